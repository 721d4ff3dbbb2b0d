#include "benchwindow.h"

#include <cstdio>

#include "benchlink.h"
#include "form1.h"
#include "link.h"

namespace meterlog::bench {

bool loadOnMeters(Form1 &form, const char *folder)
{
    form.Form_Load();
    if (waitUntilOpen(form.link()))
        return true;
    std::fprintf(
        stderr, "%s (program folder %s) does not open\n", qPrintable(form.link().name()), folder);
    return false;
}

} // namespace meterlog::bench
