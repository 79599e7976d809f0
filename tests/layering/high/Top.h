// The order allows this: a higher folder reaching down.
#pragma once
#include "low/Upward.h"
