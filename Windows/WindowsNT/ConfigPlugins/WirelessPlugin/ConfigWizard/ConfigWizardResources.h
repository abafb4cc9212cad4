// The library's English strings and dialog templates, and its animations
// (GIF 110 and 111).
#pragma once

#include "Platform/Resource.h"

Platform::ResourceTable ElvintorResources();
