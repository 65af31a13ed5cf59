#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/kernel/wide_text.h"
#include "verify/result_codes.h"
#include "verify/signer_name.h"

namespace {

std::u16string StoredName() {
    return std::u16string(g_szSignerName);
}

void SetStoredName(const std::u16string& text) {
    std::copy(text.begin(), text.end(), g_szSignerName);
    g_szSignerName[text.size()] = u'\0';
}

struct NameCase {
    const char* label;
    std::u16string input;
    int result;
    std::u16string name; // what g_szSignerName holds afterwards (the sentinel when nothing is written)
};

constexpr char16_t kSentinel[] = u"(previous)";

TEST(SignerName, TakesEverythingAfterTheFirstCaseSensitiveCommonNameMarker) {
    const NameCase cases[] = {
        {"common name last", u"C=US, O=Example Org, CN=Example Signer", VR_OK, u"Example Signer"},
        {"attributes after it come along", u"CN=Example Signer, O=Example Org, C=US", VR_OK,
         u"Example Signer, O=Example Org, C=US"},
        {"no common name", u"C=US, O=Example Org", VR_NO_SIGNER_NAME, kSentinel},
        {"letters CN without equals", u"C=CN, O=Example Org", VR_NO_SIGNER_NAME, kSentinel},
        {"lower case", u"cn=example signer", VR_NO_SIGNER_NAME, kSentinel},
        {"first match inside another value", u"OU=ACN=Team, CN=Example Signer", VR_OK,
         u"Team, CN=Example Signer"},
        {"nothing after the marker", u"O=Example Org, CN=", VR_NO_SIGNER_NAME, kSentinel},
        {"empty input", u"", VR_NO_SIGNER_NAME, kSentinel},
        {"several markers, the first decides", u"CN=A, CN=B", VR_OK, u"A, CN=B"},
        {"quoted name", u"C=US, CN=\"Example, Inc.\"", VR_OK, u"Example, Inc."},
        {"quoted name followed by attributes", u"CN=\"Example, Inc.\", O=Example Org", VR_OK,
         u"Example, Inc.\", O=Example Org"},
        {"a single quote", u"CN=\"", VR_NO_SIGNER_NAME, kSentinel},
        {"two quotes", u"CN=\"\"", VR_NO_SIGNER_NAME, kSentinel},
        {"trailing quote only", u"CN=Example Signer\"", VR_OK, u"Example Signer"},
        {"inner doubled quotes stay", u"CN=\"A \"\"B\"\" C\"", VR_OK, u"A \"\"B\"\" C"},
        {"non-ASCII name", u"C=CN, CN=\u6d4b\u8bd5\u7b7e\u540d", VR_OK, u"\u6d4b\u8bd5\u7b7e\u540d"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.label);
        SetStoredName(kSentinel);
        EXPECT_EQ(ExtractSignerName(c.input.c_str()), c.result);
        EXPECT_EQ(StoredName(), c.name);
    }
}

TEST(SignerName, LengthLimitsAreTestedBeforeAndAfterTheQuotesComeOff) {
    auto name = [](std::size_t length) { return std::u16string(length, u'n'); };
    auto quoted = [](std::size_t length) { return u"\"" + std::u16string(length - 2, u'q') + u"\""; };
    struct LengthCase {
        const char* label;
        std::u16string candidate;
        int result;
        std::u16string stored;
    };
    const LengthCase cases[] = {
        {"4131 stored whole", name(4131), VR_OK, name(4131)},
        {"4132 without quotes", name(4132), VR_NAME_TOO_LONG, kSentinel},
        {"4132 enclosed in quotes", quoted(4132), VR_OK, std::u16string(4130, u'q')},
        {"4132 with one leading quote", u"\"" + name(4131), VR_OK, name(4131)},
        {"4133 without quotes", name(4133), VR_NAME_TOO_LONG, kSentinel},
        {"4133 enclosed in quotes", quoted(4133), VR_NAME_TOO_LONG, kSentinel},
        {"far too long", name(20000), VR_NAME_TOO_LONG, kSentinel},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.label);
        SetStoredName(kSentinel);
        const std::u16string input = u"O=Org, CN=" + c.candidate;
        EXPECT_EQ(ExtractSignerName(input.c_str()), c.result);
        EXPECT_EQ(StoredName(), c.stored);
    }
}

TEST(SignerName, LeavesTheInputUnchangedAndRefusesNoInput) {
    std::u16string input = u"CN=\"Quoted\"";
    const std::u16string before = input;
    EXPECT_EQ(ExtractSignerName(input.c_str()), VR_OK);
    EXPECT_EQ(input, before);

    SetStoredName(u"");
    EXPECT_EQ(ExtractSignerName(nullptr), VR_NO_SIGNER_NAME);
    EXPECT_EQ(StoredName(), u"");
}

TEST(SignerName, EachThreadHasItsOwnBuffer) {
    SetStoredName(u"main thread");
    std::u16string seenByWorker;
    std::thread worker([&] {
        seenByWorker = StoredName(); // a fresh thread starts with an empty buffer
        ExtractSignerName(u"CN=worker");
    });
    worker.join();
    EXPECT_EQ(seenByWorker, u"");
    EXPECT_EQ(StoredName(), u"main thread");
}

} // namespace
