#include "Peer.h"

namespace sim {

void LineState::Apply(const LineEvent &event) {
    switch (event.kind) {
    case LineEventKind::BaudRate: baudRate = event.value; break;
    case LineEventKind::DataSize: dataSize = event.value; break;
    case LineEventKind::Parity: parity = event.value; break;
    case LineEventKind::StopSize: stopSize = event.value; break;
    case LineEventKind::FlowControl: flowControl = event.value; break;
    case LineEventKind::Dtr: dtr = event.value != 0; break;
    case LineEventKind::Rts: rts = event.value != 0; break;
    case LineEventKind::Break: breakOn = event.value != 0; break;
    }
}

} // namespace sim
