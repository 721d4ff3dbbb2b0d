#include "benchwindow.h"

#include <cstdio>

#include "form1.h"

namespace meterlog::bench {

bool loadOnMeters(Form1 &form, const char *folder)
{
    form.Form_Load();
    if (form.port().portOpen())
        return true;
    std::fprintf(stderr, "com9 in %s does not open\n", folder);
    return false;
}

} // namespace meterlog::bench
