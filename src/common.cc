#include "common.h"

// A static object: constructed empty before main runs, destroyed at process exit.
LaunchList g_launch_list;
TextEncoding g_launch_encoding = TextEncoding::kAnsi;
