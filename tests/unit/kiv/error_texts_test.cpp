#include "kiv.basis/lib/error_texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kUnknown = "Unknown error";

std::string Text(int code, int selector) {
    const char* text = KivErrorText(code, selector);
    return text == nullptr ? std::string("<null>") : std::string(text);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Every Windows Sockets code that has a text, built from the ranges rather
// than from the table under test.
std::vector<int> SocketCodes() {
    std::vector<int> codes = {6, 8, 87, 995, 996, 997, 10004, 10009, 10013, 10014, 10022, 10024};
    for (int c = 10035; c <= 10071; ++c)
        codes.push_back(c);
    for (int c = 10091; c <= 10093; ++c)
        codes.push_back(c);
    for (int c = 10101; c <= 10112; ++c)
        codes.push_back(c);
    for (int c = 11001; c <= 11031; ++c)
        codes.push_back(c);
    return codes;
}

// Every Windows Installer code that has a text (1617 has none).
std::vector<int> InstallerCodes() {
    std::vector<int> codes = {6, 13, 87, 110, 120, 234, 259, 1259};
    for (int c = 1601; c <= 1651; ++c) {
        if (c != 1617)
            codes.push_back(c);
    }
    codes.push_back(3010);
    return codes;
}

const int kTwoTextCodes[] = {1609, 1615, 1627, 1631};

bool IsTwoTextCode(int code) {
    for (int c : kTwoTextCodes) {
        if (c == code)
            return true;
    }
    return false;
}

bool PlainAsciiLine(const std::string& text) {
    for (unsigned char ch : text) {
        if (ch < 0x20 || ch > 0x7e)
            return false;
    }
    return true;
}

struct Exact {
    int code;
    int selector;
    const char* text;
};

// Short, stable case names for ctest (the default printout shows pointers).
void PrintTo(const Exact& c, std::ostream* out) {
    *out << c.code << "_" << c.selector;
}

class ExactText : public ::testing::TestWithParam<Exact> {};

TEST_P(ExactText, Matches) {
    const Exact& c = GetParam();
    EXPECT_EQ(Text(c.code, c.selector), c.text) << "code " << c.code << " selector " << c.selector;
}

INSTANTIATE_TEST_SUITE_P(
    KivErrorText, ExactText,
    ::testing::Values(
        // Code 0: empty for the installer, unknown for sockets.
        Exact{0, 1, ""}, Exact{0, 2, ""}, Exact{0, 3, ""}, Exact{0, 0, ""}, Exact{0, -1, ""},
        Exact{0, 4, "Unknown error"},
        // The four codes with a database text and an installer text.
        Exact{1609, 1, "The handle was in an invalid state"},
        Exact{1609, 2, "The handle is in an invalid state"},
        Exact{1615, 1, "An invalid SQL query string was passed to the function"},
        Exact{1615, 2, "The SQL query syntax is invalid or unsupported"},
        Exact{1627, 1, "An error occurred during fetching"},
        Exact{1627, 2, "The function failed during execution"},
        Exact{1631, 1, "The database could not be created"},
        Exact{1631, 2,
              "The Windows Installer service failed to start. Contact your support personnel"},
        // ...and with any other installer selector, nothing.
        Exact{1609, 3, ""}, Exact{1615, 0, ""}, Exact{1627, 3, ""}, Exact{1631, -1, ""},
        Exact{1627, 5, ""}, Exact{1609, INT_MIN, ""}, Exact{1631, INT_MAX, ""},
        // 1617 has no text under any installer selector.
        Exact{1617, 1, "Unknown error"}, Exact{1617, 2, "Unknown error"},
        Exact{1617, 3, "Unknown error"}, Exact{1617, 0, "Unknown error"},
        Exact{1617, -1, "Unknown error"}, Exact{1617, 4, "Unknown error"},
        // Single-text installer codes.
        Exact{1602, 1, "The user cancels installation"},
        Exact{1602, 2, "The user cancels installation"},
        Exact{1603, 2, "A fatal error occurred during installation"},
        Exact{1618, 2,
              "Another installation is already in progress. Complete that installation before "
              "proceeding with this install.For information about the mutex, see _MSIExecute "
              "Mutex"},
        Exact{3010, 1,
              "A restart is required to complete the install. This message is indicative of a "
              "success. This does not include installs where the ForceReboot action is run"},
        Exact{259, 1, "No records remain, and a null handle is returned"},
        Exact{1605, 2, "This action is only valid for products that are currently installed"},
        Exact{6, 1, "The handle is invalid"}, Exact{13, 1, "The data is invalid"},
        Exact{87, 1, "One of the parameters was invalid"},
        Exact{110, 1, "The system cannot open the device or file specified"},
        Exact{234, 2, "More data is available"},
        // Sockets texts given in full.
        Exact{10004, 4,
              "Interrupted function call.A blocking operation was interrupted by a call to "
              "WSACancelBlockingCall."},
        Exact{10102, 4,
              "No more results.No more results can be returned by the WSALookupServiceNext "
              "function."},
        Exact{10110, 4,
              "No more results.No more results can be returned by the WSALookupServiceNext "
              "function."},
        Exact{6, 4,
              "Specified event object handle is invalid.An application attempts to use an event "
              "object, but the specified handle is not valid."},
        Exact{11010, 4, "QoS admission error.A QoS error occurred due to lack of resources."},
        // Codes from one table are unknown to the other.
        Exact{10054, 1, "Unknown error"}, Exact{10054, 2, "Unknown error"},
        Exact{10054, 3, "Unknown error"}, Exact{10054, 0, "Unknown error"},
        Exact{995, 1, "Unknown error"}, Exact{997, 2, "Unknown error"},
        Exact{8, 1, "Unknown error"}, Exact{13, 4, "Unknown error"}, Exact{110, 4, "Unknown error"},
        Exact{1603, 4, "Unknown error"}, Exact{3010, 4, "Unknown error"},
        Exact{259, 4, "Unknown error"}));

struct Prefix {
    int code;
    const char* prefix;
};

void PrintTo(const Prefix& c, std::ostream* out) {
    *out << c.code;
}

class SocketPrefix : public ::testing::TestWithParam<Prefix> {};

TEST_P(SocketPrefix, StartsWithNameAndExplanation) {
    const Prefix& c = GetParam();
    const std::string text = Text(c.code, kErrorTableSockets);
    EXPECT_TRUE(StartsWith(text, c.prefix)) << "code " << c.code << ": " << text;
}

INSTANTIATE_TEST_SUITE_P(
    KivErrorText, SocketPrefix,
    ::testing::Values(
        Prefix{10054, "Connection reset by peer."},
        Prefix{10054,
               "Connection reset by peer.An existing connection was forcibly closed by the remote "
               "host."},
        Prefix{10035,
               "Resource temporarily unavailable.This error is returned from operations on "
               "nonblocking sockets that cannot be completed immediately"},
        Prefix{10060,
               "Connection timed out.A connection attempt failed because the connected party did "
               "not properly respond after a period of time"},
        Prefix{10061,
               "Connection refused.No connection could be made because the target computer "
               "actively refused it."},
        Prefix{11001, "Host not found.No such host is known."},
        Prefix{8, "Insufficient memory available."},
        Prefix{87, "One or more parameters are invalid."},
        Prefix{995, "Overlapped operation aborted."},
        Prefix{996, "Overlapped I/O event object not in signaled state."},
        Prefix{997, "Overlapped operations will complete later."},
        Prefix{10013, "Permission denied."}, Prefix{10038, "Socket operation on nonsocket."},
        Prefix{10048, "Address already in use."},
        Prefix{10093, "Successful WSAStartup not yet performed."},
        Prefix{11004, "Valid name, no data record of requested type."}));

TEST(KivErrorText, NeverReturnsNull) {
    const int selectors[] = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 8, INT_MAX};
    const int extremes[] = {INT_MIN, INT_MIN + 1, -10054, -1, INT_MAX - 1, INT_MAX};
    for (int selector : selectors) {
        for (int code = -2; code <= 12000; ++code)
            ASSERT_NE(KivErrorText(code, selector), nullptr) << code << "/" << selector;
        for (int code : extremes)
            ASSERT_NE(KivErrorText(code, selector), nullptr) << code << "/" << selector;
    }
}

TEST(KivErrorText, OutOfRangeCodesAreUnknown) {
    const int codes[] = {INT_MIN, -10054, -6, -1, 12000, 65535, INT_MAX};
    for (int code : codes) {
        EXPECT_EQ(Text(code, kErrorTableSockets), kUnknown) << code;
        EXPECT_EQ(Text(code, kErrorTableInstallerDatabase), kUnknown) << code;
        EXPECT_EQ(Text(code, kErrorTableInstaller), kUnknown) << code;
        EXPECT_EQ(Text(code, 3), kUnknown) << code;
    }
}

TEST(KivErrorText, EverySocketCodeHasNameAndExplanation) {
    const std::vector<int> codes = SocketCodes();
    ASSERT_EQ(codes.size(), 95u);
    for (int code : codes) {
        const std::string text = Text(code, kErrorTableSockets);
        SCOPED_TRACE("code " + std::to_string(code) + ": " + text);
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text, kUnknown);
        EXPECT_TRUE(PlainAsciiLine(text));
        const std::size_t dot = text.find('.');
        ASSERT_NE(dot, std::string::npos);
        EXPECT_GT(dot, 0u) << "no short name before the full stop";
        // Name and explanation are joined without a space, and there is an
        // explanation after the name.
        ASSERT_LT(dot + 1, text.size());
        EXPECT_NE(text[dot + 1], ' ');
        EXPECT_NE(text.front(), ' ');
        EXPECT_EQ(text.back(), '.');
    }
}

TEST(KivErrorText, ExactlyTheListedSocketCodesHaveTexts) {
    const std::vector<int> listed = SocketCodes();
    const std::set<int> expected(listed.begin(), listed.end());
    std::set<int> found;
    for (int code = 0; code <= 12000; ++code) {
        if (Text(code, kErrorTableSockets) != kUnknown)
            found.insert(code);
    }
    EXPECT_EQ(found.size(), 95u);
    EXPECT_EQ(found, expected);
}

TEST(KivErrorText, CodesBesideTheSocketRangesAreUnknown) {
    const int codes[] = {0,     1,     5,     7,     9,     86,    88,    994,
                         998,   10003, 10005, 10012, 10015, 10021, 10023, 10025,
                         10034, 10072, 10090, 10094, 10100, 10113, 11000, 11032};
    for (int code : codes)
        EXPECT_EQ(Text(code, kErrorTableSockets), kUnknown) << code;
}

TEST(KivErrorText, SocketTextsDifferWhereTheErrorsDiffer) {
    // Only the two "no more results" codes share a text.
    std::set<std::string> texts;
    for (int code : SocketCodes())
        texts.insert(Text(code, kErrorTableSockets));
    EXPECT_EQ(texts.size(), 94u);
    EXPECT_EQ(Text(10102, kErrorTableSockets), Text(10110, kErrorTableSockets));
    EXPECT_NE(Text(10103, kErrorTableSockets), Text(10111, kErrorTableSockets));
}

TEST(KivErrorText, EveryInstallerCodeHasText) {
    for (int code : InstallerCodes()) {
        SCOPED_TRACE("code " + std::to_string(code));
        for (int selector : {kErrorTableInstallerDatabase, kErrorTableInstaller}) {
            const std::string text = Text(code, selector);
            EXPECT_FALSE(text.empty()) << "selector " << selector;
            EXPECT_NE(text, kUnknown) << "selector " << selector;
            EXPECT_TRUE(PlainAsciiLine(text)) << text;
            EXPECT_NE(text.front(), ' ') << text;
            // The installer's texts carry no closing full stop.
            EXPECT_NE(text.back(), '.') << text;
            EXPECT_NE(text.back(), ' ') << text;
        }
    }
}

TEST(KivErrorText, SingleTextInstallerCodesIgnoreTheSelector) {
    for (int code : InstallerCodes()) {
        if (IsTwoTextCode(code))
            continue;
        const std::string text = Text(code, kErrorTableInstallerDatabase);
        for (int selector : {INT_MIN, -1, 0, 2, 3, 5, 100, INT_MAX})
            EXPECT_EQ(Text(code, selector), text) << code << "/" << selector;
    }
}

TEST(KivErrorText, TwoTextCodesHaveDistinctTexts) {
    for (int code : kTwoTextCodes) {
        const std::string database = Text(code, kErrorTableInstallerDatabase);
        const std::string installer = Text(code, kErrorTableInstaller);
        EXPECT_FALSE(database.empty()) << code;
        EXPECT_FALSE(installer.empty()) << code;
        EXPECT_NE(database, kUnknown) << code;
        EXPECT_NE(installer, kUnknown) << code;
        EXPECT_NE(database, installer) << code;
        for (int selector : {INT_MIN, -1, 0, 3, 5, 6, 7, INT_MAX})
            EXPECT_EQ(Text(code, selector), "") << code << "/" << selector;
    }
}

TEST(KivErrorText, ExactlyTheListedInstallerCodesHaveTexts) {
    const std::vector<int> listed = InstallerCodes();
    ASSERT_EQ(listed.size(), 59u);
    const std::set<int> expected(listed.begin(), listed.end());
    for (int selector : {kErrorTableInstallerDatabase, kErrorTableInstaller}) {
        std::set<int> found;
        for (int code = 0; code <= 12000; ++code) {
            const std::string text = Text(code, selector);
            if (code == 0) {
                EXPECT_EQ(text, "");
                continue;
            }
            EXPECT_FALSE(text.empty()) << code << "/" << selector;
            if (text != kUnknown)
                found.insert(code);
        }
        EXPECT_EQ(found, expected) << "selector " << selector;
    }
    // Any other selector drops the four two-text codes to "".
    std::set<int> found;
    for (int code = 1; code <= 12000; ++code) {
        const std::string text = Text(code, 3);
        if (text.empty())
            EXPECT_TRUE(IsTwoTextCode(code)) << code;
        else if (text != kUnknown)
            found.insert(code);
    }
    EXPECT_EQ(found.size(), 55u);
}

TEST(KivErrorText, CodesBesideTheInstallerRangesAreUnknown) {
    const int codes[] = {1,   5,   7,   12,  14,   86,   88,   109,  111,  119, 121,
                         233, 235, 258, 260, 1258, 1260, 1600, 1652, 3009, 3011};
    for (int code : codes) {
        for (int selector : {0, 1, 2, 3, -1})
            EXPECT_EQ(Text(code, selector), kUnknown) << code << "/" << selector;
    }
}

TEST(KivErrorText, SharedCodesTakeTheTextOfTheSelectedTable) {
    for (int code : {6, 87}) {
        const std::string installer = Text(code, kErrorTableInstallerDatabase);
        const std::string sockets = Text(code, kErrorTableSockets);
        EXPECT_NE(installer, kUnknown) << code;
        EXPECT_NE(sockets, kUnknown) << code;
        EXPECT_NE(installer, sockets) << code;
        // The sockets texts have the name-and-explanation form, the
        // installer's do not end in a full stop.
        EXPECT_EQ(sockets.back(), '.') << code;
        EXPECT_NE(installer.back(), '.') << code;
    }
    EXPECT_EQ(Text(6, kErrorTableInstallerDatabase), "The handle is invalid");
    EXPECT_TRUE(
        StartsWith(Text(6, kErrorTableSockets), "Specified event object handle is invalid."));
    EXPECT_EQ(Text(87, kErrorTableInstaller), "One of the parameters was invalid");
    EXPECT_TRUE(StartsWith(Text(87, kErrorTableSockets), "One or more parameters are invalid."));
    // 13 is only an installer code.
    EXPECT_EQ(Text(13, kErrorTableInstallerDatabase), "The data is invalid");
    EXPECT_EQ(Text(13, kErrorTableSockets), kUnknown);
}

TEST(KivErrorText, SelectorConstants) {
    EXPECT_EQ(kErrorTableInstallerDatabase, 1);
    EXPECT_EQ(kErrorTableInstaller, 2);
    EXPECT_EQ(kErrorTableSockets, 4);
}

}  // namespace
