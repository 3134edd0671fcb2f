#include "gateway/Busobject.h"

#include "gateway/Linkif.h"

std::string busObjectName(const BusObject& bus) {
    if (bus.mode != busModeMBus) return bus.identification.empty() ? "OPTO" : "OPTO " + bus.identification;
    if (bus.primaryAddress == mbusSelectBySecondary) return "MBUS " + bus.identification;
    return linkFormat("MBUS %d", bus.primaryAddress);
}

void busObjectResetState(BusObject& bus, int step) {
    bus.step = step;
    bus.retries = 0;
}
