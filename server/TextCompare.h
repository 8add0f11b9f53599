// The text helpers live with the lowest layer, which uses them too.
#pragma once

#include "platform/AsciiText.h"
