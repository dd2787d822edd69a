#pragma once

namespace meridane {

// Opens /dev/null on each of the standard descriptors 0, 1 and 2 that is
// closed. Called first in every main: a program started with one closed would
// otherwise give that number to the next file it opens, and its messages and
// progress lines would be written into that file.
void OpenClosedStandardStreams();

}  // namespace meridane
