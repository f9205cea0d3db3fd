#pragma once

#include <QtGlobal>

namespace mirelva::echolink {

// When a datagram came, as the kernel stamped it on receipt, so a packet that
// waited in the socket while the node's thread was busy (a keyed speech, a
// busy machine) is not taken for a late one by the jitter buffers.
//
// Qt reads the datagram itself, so the stamp is asked for after the read
// (SIOCGSTAMPNS: the last datagram read from that socket); the first ask turns
// stamping on for the socket. Null (-1) when the socket gives none.
qint64 receiveAgeNs(qintptr socket);

// The arrival on the node's clock: `nowMs` less the age, when the age is one
// to believe (known, not negative, under kMaxAgeMs: the wall clock was not
// set between the stamp and now); else `nowMs`.
qint64 arrivalMs(qint64 nowMs, qint64 ageNs);

constexpr qint64 kMaxAgeMs = 5000;

} // namespace mirelva::echolink
