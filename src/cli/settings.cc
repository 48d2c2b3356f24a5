#include "cli/settings.h"

int g_verbose = 0;
int g_silent = 0;
int32_t g_precision = -1;
int g_check = 0;
int g_recursive = 0;
