#include "PortActions.h"
