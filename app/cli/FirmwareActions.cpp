#include "FirmwareActions.h"
