// The library's English strings and dialog templates.
#pragma once

#include "Platform/Resource.h"

Platform::ResourceTable ElvintorResources();
