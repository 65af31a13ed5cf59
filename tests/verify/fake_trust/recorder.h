// The recording side of the fake trust library: what the fake was told to do, and the log of every
// call it received (and, through the module observer, every module call the code under test made).
// Shared between the test program and the fake library variants, so both see one log.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/win_types.h"

namespace fake_trust {

struct Script {
    BOOL acquireResult = TRUE;
    BOOL releaseResult = TRUE;
    LONG embeddedResult = static_cast<LONG>(0x800B0100); // no signature
    LONG catalogResult = static_cast<LONG>(0x800B0100);
    // The hash the catalog hash computation reports. The fake writes at most the capacity it is
    // given; reportedHashLength (when non-zero) is the length it claims, which may exceed both.
    BOOL hashResult = TRUE;
    std::vector<BYTE> hash = {0x00, 0x01, 0x0A, 0x0F, 0x10, 0x7F, 0x80, 0x9B, 0xA5, 0xC3,
                              0xD4, 0xE0, 0xEF, 0xF0, 0xFE, 0xFF, 0x05, 0x50, 0x3C, 0xC3};
    DWORD reportedHashLength = 0;
    // DOS paths of the catalogs that list the hash, in the order they are enumerated.
    std::vector<std::u16string> catalogs;
    // What a verification state carries. chainSubjects are DER-encoded names; the first is the
    // signer certificate's subject.
    bool providerData = true;
    bool signer = true;
    bool nullCertificate = false;
    std::vector<std::vector<BYTE>> chainSubjects;
    // A Linux path the fake deletes while it checks an embedded signature: a file that vanishes
    // between the two checks.
    std::string removeDuringEmbeddedCheck;
};

// The script in force. Reset() restores the defaults above, empties the log and closes nothing:
// states still open stay counted.
Script& CurrentScript();
void Reset();

void Record(std::string entry);
const std::vector<std::string>& Log();
// Just the call names of the log ("WinVerifyTrust verify" and "WinVerifyTrust close" for the two
// kinds of verification call).
std::vector<std::string> CallNames();

// Verification states handed out and not yet closed.
int OpenStates();
// 1 for the first state handed out after Reset(), then 2, ...
int NextStateNumber();
void ChangeOpenStates(int delta);

} // namespace fake_trust
