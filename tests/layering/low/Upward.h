// Breaks the order on purpose: a lower folder reaching up.
#pragma once
#include "high/Top.h"
