// The control's test of what it takes for a picture: a file of a registered picture type (JPEG), by
// its name and by its content, so that a file that only has a picture's name is refused when it is
// added rather than uploaded and reported as done.
#pragma once

#include <string>

bool IsRegisteredPicture(const std::string& path);
