#include "ddfs.h"
