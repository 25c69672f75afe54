#pragma once
// The framework double's stand-in for the SDK header of this name.
#include "platform/frameworks/apple.h"
