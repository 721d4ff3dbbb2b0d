#include "bench/benchwindow.h"

#include <cstdio>

#include "app/form1.h"
#include "bench/benchlink.h"
#include "serial/link.h"

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
