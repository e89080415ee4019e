// The file layer's exception, for the component and the programs built on it.
#pragma once

#include <kestrune/FileError.h>
