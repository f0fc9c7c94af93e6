#include "EntrySelection.h"
