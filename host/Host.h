#pragma once

// Everything the module uses of its host.
#include "APIInterface.h"
#include "Alloc.h"
#include "FileMonitor.h"
#include "Graphics.h"
#include "ImageSource.h"
#include "List.h"
#include "Log.h"
#include "Scene.h"
#include "String.h"
#include "Vect.h"
#include "XElement.h"
#include "XFile.h"
