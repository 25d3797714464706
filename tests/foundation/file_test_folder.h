// A fresh folder under the system's temporary folder for one test, removed with everything in it when
// the test ends: the shared test support's folder under the name these tests know.
#pragma once

#include "tests/support/scoped_temp_folder.h"

using CFileTestFolder = testsupport::ScopedTempFolder;
