#include "Terminal.h"
