// The probe classes served on the bus the way orvelwddx serves its own.

#include "Probe.h"
#include "server/Startup.h"

#include <QWidget>

int main(int argc, char** argv)
{
    return orvel::RunComServer(argc, argv,
                               {orvel::test::ProbeLibrary(), orvel::test::RegisterProbeFactory, "Probe",
                                [] { return std::make_unique<QWidget>(); }});
}
