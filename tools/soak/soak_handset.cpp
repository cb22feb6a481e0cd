// soak_handset: a compressed shift of the handset plug-in (HandsetSoak.h).
//   soak_handset [--calls N] [--warm-up N] [--unplug-every N]
//                [--reattach-every N] [--random-start N]
//                [--report-growth-only]
// Prints a table and exits 0 when every check held and nothing grew.
#include "HandsetSoak.h"

int main(int argc, char **argv) {
    SSoakOptions options;
    if (!options.Parse(argc, argv)) return 2;
    CHandsetSoak soak(options);
    return soak.Run();
}
