// Compiled by proof_outside_gate_test.sh, never linked: a proof assembled
// outside the gate must not compile. With CARRY_ONLY the same file carries a
// proof the gate made, which must compile, so that the failure is the
// constructor's and not a broken include.
#include <optional>

#include "launcher/gate.h"

std::optional<Proof> Carried(const std::optional<Proof>& fromTheGate) {
#ifdef CARRY_ONLY
    return fromTheGate;
#else
    (void)fromTheGate;
    return Proof(u"..\\bf2\\Shaders_client.zip", FileLook{}, u"Shaders_client.zip", FileLook{});
#endif
}
