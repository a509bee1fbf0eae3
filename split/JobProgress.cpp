#include "JobProgress.h"
