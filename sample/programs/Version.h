// Version of the sample product, shared by the resource scripts of its programs.
// Keep in step with the settings of setup\Install.xml.
#pragma once

#define KIVO_VERSION_BINARY 5, 10, 0, 0
#define KIVO_VERSION_TEXT "5.10.0.0"
#define KIVO_PUBLISHER "KIVO Software"
#define KIVO_COPYRIGHT "Copyright (C) 2012-2024 KIVO Software"
