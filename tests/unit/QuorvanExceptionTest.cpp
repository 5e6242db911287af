#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "OutputCapture.h"
#include "QuorvanException.h"

#include <sstream>

namespace {

class QuorvanExceptionTest : public ::testing::Test {
protected:
    FakePlatform fake;
};

TEST_F(QuorvanExceptionTest, DisplayWritesSixLabelledLinesThenTheDescriptionToTheConsole) {
    fake.outputIsConsole = true;
    CQuorvanException failure(L"SvcCtrlMgr", L"int f()", 293, 5);
    std::wostringstream report;
    ::SetLastError(77);
    {
        OutputCapture console;
        failure.Display(report);
    }
    EXPECT_EQ(report.str(),
              L"Une exception est survenue.\n"
              L"\tcode        : 5\n"
              L"\tdescription : Acc\u00E8s refus\u00E9.\n"
              L"\tfichier     : SvcCtrlMgr\n"
              L"\tfonction    : int f()\n"
              L"\tligne       : 293\n"
              L"\n");
    // The wide text, then the OEM text, cut at the carriage return and never used as a format.
    EXPECT_EQ(fake.consoleText, L"Acc\u00E8s refus\u00E9.Acc\u00E8s refus\u00E9.");
    EXPECT_EQ(::GetLastError(), 77u) << "showing a failure is no failure";
}

TEST_F(QuorvanExceptionTest, ConsoleTextGoesToStandardOutputWhenThereIsNoConsole) {
    fake.messages[2] = L"100% %s %n introuvable.\r\nsuite";
    CQuorvanException failure(L"F", L"g", 1, 2);
    OutputCapture capture;
    std::wostringstream report;
    failure.Display(report);
    EXPECT_EQ(capture.Out(), L"100% %s %n introuvable.100% %s %n introuvable.");
    EXPECT_NE(report.str().find(L"\tdescription : 100% %s %n introuvable.\n"), std::wstring::npos);
}

TEST_F(QuorvanExceptionTest, UnknownCodeGivesAnEmptyDescriptionAndNullNamesShowAsNull) {
    fake.outputIsConsole = true;
    CQuorvanException failure(static_cast<const wchar_t*>(nullptr), nullptr, 0, 424242);
    std::wostringstream report;
    failure.Display(report);
    EXPECT_EQ(report.str(),
              L"Une exception est survenue.\n\tcode        : 424242\n\tdescription : \n"
              L"\tfichier     : (null)\n\tfonction    : (null)\n\tligne       : 0\n\n");
    EXPECT_EQ(fake.consoleText, L"");
}

TEST_F(QuorvanExceptionTest, ConstructingAndCopyingSetTheLastError) {
    ::SetLastError(0);
    CQuorvanException original(SimpleString(L"a"), SimpleString(L"b"), 3, 1060);
    EXPECT_EQ(::GetLastError(), 1060u);
    ::SetLastError(0);
    CQuorvanException copy(original);
    EXPECT_EQ(::GetLastError(), 1060u);
    EXPECT_EQ(copy.m_nLine, 3);
    EXPECT_EQ(copy.m_strFile, L"a");
}

TEST_F(QuorvanExceptionTest, ThrownAndCaughtByReferenceKeepsItsRecord) {
    try {
        throw CQuorvanException(L"SvcCtrlMgr", L"f", 293, 1722);
    } catch (const CQuorvanException& caught) {
        EXPECT_EQ(caught.m_nCode, 1722);
        EXPECT_EQ(caught.m_nLine, 293);
        EXPECT_EQ(caught.m_strFunction, L"f");
    }
}

} // namespace
