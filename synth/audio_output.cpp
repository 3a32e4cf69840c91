#include "audio_output.h"
