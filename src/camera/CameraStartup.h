// Starting and finishing the camera library. StartCameraLibrary offers version 5 first
// and, if the library refuses it, 6, 7 ... 10 in turn (the library is started at most
// once). UI thread; blocks for as long as the library takes to start.
#pragma once

#include "camera/CameraLibrary.h"

// The major version the library accepted, or 0 when it accepted none.
int StartCameraLibrary(cdsdk::CameraLibrary& library);
