// soak_sip: a compressed shift of the SIP plug-in (SipSoak.h), run from the
// folder that holds it, BRAVIK32.dll (the SIP plug-in) and KIRO.dll.
//   soak_sip [--calls N] [--warm-up N] [--reregister-every N] [--random-start N]
//            [--report-growth-only]
// Prints a table and exits 0 when every check held and nothing grew.
#include "SipSoak.h"

int main(int argc, char **argv) {
    SSoakOptions options;
    if (!options.Parse(argc, argv)) return 2;
    CSipSoak soak(options);
    return soak.Run();
}
