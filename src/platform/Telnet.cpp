#include "platform/Telnet.h"

namespace platform::telnet {

void AppendData(std::vector<uint8_t> &out, const uint8_t *data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == Iac) out.push_back(Iac);
    }
}

void AppendNegotiation(std::vector<uint8_t> &out, uint8_t verb, uint8_t option) {
    out.insert(out.end(), {Iac, verb, option});
}

void AppendSubnegotiation(std::vector<uint8_t> &out, uint8_t option, const uint8_t *value,
                          size_t count) {
    out.insert(out.end(), {Iac, Sb, option});
    AppendData(out, value, count);
    out.insert(out.end(), {Iac, Se});
}

void TelnetDecoder::Feed(const uint8_t *data, size_t count, TelnetSink &sink) {
    size_t runStart = 0; // start of the plain data run not yet handed over
    auto flushRun = [&](size_t end) {
        if (end > runStart) sink.OnData(data + runStart, end - runStart);
    };
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = data[i];
        switch (state_) {
        case State::Data:
            if (byte == Iac) {
                flushRun(i);
                state_ = State::Escape;
            }
            continue; // the run continues (or restarts below)
        case State::Escape:
            if (byte == Iac) {
                sink.OnData(&byte, 1);
                state_ = State::Data;
            } else {
                Command(byte);
            }
            break;
        case State::Verb:
            sink.OnNegotiation(verb_, byte);
            state_ = State::Data;
            break;
        case State::SbOption:
            sbOption_ = byte;
            sbLength_ = 0;
            sbOverflow_ = false;
            state_ = State::SbData;
            break;
        case State::SbData:
            if (byte == Iac) {
                state_ = State::SbEscape;
            } else if (sbLength_ < sb_.size()) {
                sb_[sbLength_++] = byte;
            } else {
                sbOverflow_ = true;
            }
            break;
        case State::SbEscape:
            if (byte == Iac) {
                if (sbLength_ < sb_.size())
                    sb_[sbLength_++] = byte;
                else
                    sbOverflow_ = true;
                state_ = State::SbData;
            } else if (byte == Se) {
                if (sbOverflow_)
                    ++dropped_;
                else
                    sink.OnSubnegotiation(sbOption_, sb_.data(), sbLength_);
                state_ = State::Data;
            } else {
                // A command inside a sub-negotiation: the peer broke off; drop what was gathered
                // and take the command as it stands.
                ++dropped_;
                Command(byte);
            }
            break;
        }
        runStart = i + 1;
    }
    if (state_ == State::Data) flushRun(count);
}

void TelnetDecoder::Command(uint8_t byte) {
    switch (byte) {
    case Will:
    case Wont:
    case Do:
    case Dont:
        verb_ = byte;
        state_ = State::Verb;
        break;
    case Sb: state_ = State::SbOption; break;
    default: state_ = State::Data; break; // NOP, GA, a stray SE and the like carry nothing for us
    }
}

void TelnetOptions::Support(uint8_t option, bool local, bool remote) {
    localSupported_[option] = local;
    remoteSupported_[option] = remote;
}

void TelnetOptions::RequestLocal(uint8_t option, std::vector<uint8_t> &out) {
    if (local_[option] != Q::No) return;
    local_[option] = Q::WantYes;
    AppendNegotiation(out, Will, option);
}

void TelnetOptions::RequestRemote(uint8_t option, std::vector<uint8_t> &out) {
    if (remote_[option] != Q::No) return;
    remote_[option] = Q::WantYes;
    AppendNegotiation(out, Do, option);
}

void TelnetOptions::Answer(Q &state, bool supported, bool enable, uint8_t yesVerb, uint8_t noVerb,
                           uint8_t option, std::vector<uint8_t> &out) {
    if (enable) {
        if (state == Q::WantYes) {
            state = Q::Yes; // the answer to our own request
        } else if (state == Q::No) {
            if (supported) {
                state = Q::Yes;
                AppendNegotiation(out, yesVerb, option);
            } else {
                AppendNegotiation(out, noVerb, option);
            }
        }
    } else if (state != Q::No) {
        if (state == Q::Yes) AppendNegotiation(out, noVerb, option); // acknowledge the switch-off
        state = Q::No;
    }
}

void TelnetOptions::Receive(uint8_t verb, uint8_t option, std::vector<uint8_t> &out) {
    switch (verb) {
    case Will:
        Answer(remote_[option], remoteSupported_[option], true, Do, Dont, option, out);
        break;
    case Wont:
        Answer(remote_[option], remoteSupported_[option], false, Do, Dont, option, out);
        break;
    case Do: Answer(local_[option], localSupported_[option], true, Will, Wont, option, out); break;
    case Dont:
        Answer(local_[option], localSupported_[option], false, Will, Wont, option, out);
        break;
    default: break;
    }
}

} // namespace platform::telnet
