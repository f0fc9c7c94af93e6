#include "ActionPlan.h"
