#include "ActionBinding.h"
