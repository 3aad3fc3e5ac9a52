#pragma once

// Symbols of the host runtime library that the plug-in and the host application
// use. The plug-in is built with hidden visibility, so everything it reaches in
// this library has to be marked for export explicitly.
#define LH_API __attribute__((visibility("default")))
