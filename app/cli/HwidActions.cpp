#include "HwidActions.h"
