// SPDX-License-Identifier: MIT
// The release of the library, for programs that load it at run time and
// must know which one they got (the Python package compares it with its
// own release). The header's QO3964_VERSION_STRING is held equal to the
// project's version where the library is built.
#include "qo3964_client.h"

extern "C" const char* qo3964_library_version(void)
{
    return QO3964_VERSION_STRING;
}
