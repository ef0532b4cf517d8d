// Key decisions driven by event traces; each call's effects are compared as text.
#include <gtest/gtest.h>

#include "tests/host/decision_harness.h"

namespace keytwine::testing {
namespace {

constexpr uint8_t kA = 0x41, kB = 0x42, kC = 0x43, kVkCtrl = 0x11, kVkShift = 0x10;
constexpr uint8_t kScanA = 0x1e, kScanCtrl = 0x1d, kScanShift = 0x2a;

class Decisions : public ::testing::Test {
 protected:
  DecisionHarness h;
};

TEST_F(Decisions, UnmappedKeyDownIsReplayedAndItsKeyUpPasses) {
  EXPECT_EQ(h.Down(kA, kScanA), "release\nsend 0x41 down\n=> swallow");
  EXPECT_EQ(h.Up(kA, kScanA), "=> pass");
}

TEST_F(Decisions, NonZeroCodeAndInjectedEventsPassWithoutTouchingState) {
  h.Settings().debugMode = 1;
  EXPECT_EQ(h.Call(1, kWmKeyDown, kVkCtrl, kScanCtrl, 5), "=> pass");
  EXPECT_EQ(h.Call(-1, kWmKeyDown, kVkCtrl, kScanCtrl, 5), "=> pass");
  EXPECT_EQ(h.Call(0, kWmKeyDown, kVkCtrl, 0xFF, 5), "=> pass");
  EXPECT_EQ(h.Call(0, kWmKeyUp, kA, 0xFF, 7), "=> pass");
  EXPECT_EQ(h.State().ctrlDown, 0u);
  EXPECT_EQ(h.State().lastEvent.vkCode, 0u);
  EXPECT_EQ(h.State().lastEvent.messageKind, 0u);
}

TEST_F(Decisions, ScanCodeAbove8BitsIsNotInjectedAndMatchesNoEntry) {
  h.Add(SwapEntry(kA, 0xFF, {kB}));
  EXPECT_EQ(h.Down(kA, 0x1FF), "release\nsend 0x41 down\n=> swallow");
  EXPECT_EQ(h.State().lastEvent.scanCode, 0x1FFu);
}

TEST_F(Decisions, DebugLogFramesEveryDecidedEvent) {
  h.Settings().debugMode = 1;
  h.Add(SwapEntry(kA, kScanA, {kB}));
  EXPECT_EQ(h.Down(kA, kScanA),
            "log WM_KEYDOWN: 0x41, 0x1e, 0x0\n"
            "log Swap()\n"
            "release\n"
            "log keybd_event: 0x42, 0xff, 0x0, 0x0\n"
            "send 0x42 down\n"
            "log lResult: TRUE\n"
            "log ---------\n"
            "=> swallow");
  EXPECT_EQ(h.Call(0, kWmKeyUp, kA, kScanA, 9, 0x80),
            "log WM_KEYUP: 0x41, 0x1e, 0x80\n"
            "log keybd_event: 0x42, 0xff, 0x2, 0x0\n"
            "send 0x42 up\n"
            "log lResult: TRUE\n"
            "log ---------\n"
            "=> swallow");
  EXPECT_EQ(h.Call(0, kWmSysKeyDown, 0x12, 0x38, 1, 0x20)
                .rfind("log WM_SYSKEYDOWN: 0x12, 0x38, 0x20\n", 0),
            0u);
}

TEST_F(Decisions, OtherMessageKindsPassButAreRemembered) {
  h.Settings().debugMode = 1;
  h.Add(SwapEntry(kA, kScanA, {kB}));
  EXPECT_EQ(h.Call(0, 0x102, kA, kScanA, 3), "log lResult: FALSE\nlog ---------\n=> pass");
  EXPECT_EQ(h.State().lastEvent.messageKind, 0x102u);
  // Any kind other than a key-down clears a modifier's flag.
  h.Down(kVkCtrl, kScanCtrl);
  EXPECT_EQ(h.State().ctrlDown, 1u);
  h.Call(0, 0x102, kVkCtrl, kScanCtrl, 4);
  EXPECT_EQ(h.State().ctrlDown, 0u);
}

TEST_F(Decisions, SysKeyMessagesActLikeKeyMessages) {
  h.Add(SwapEntry(kA, kScanA, {kB, kC}));
  EXPECT_EQ(h.Call(0, kWmSysKeyDown, kA, kScanA, 1),
            "release\nsend 0x42 down\nsend 0x43 down\n=> swallow");
  EXPECT_EQ(h.Call(0, kWmSysKeyUp, kA, kScanA, 2), "send 0x43 up\nsend 0x42 up\n=> swallow");
}

TEST_F(Decisions, SwapPressesOnEveryRepeatAndReleasesOnlyHeldKeysInReverse) {
  h.Add(SwapEntry(kA, kScanA, {kB, 0, kC}));
  EXPECT_EQ(h.Down(kA, kScanA, 1), "release\nsend 0x42 down\nsend 0x43 down\n=> swallow");
  EXPECT_EQ(h.Down(kA, kScanA, 2), "release\nsend 0x42 down\nsend 0x43 down\n=> swallow");
  h.Device().held[kB] = false;  // B was released meanwhile by someone else
  EXPECT_EQ(h.Up(kA, kScanA, 3), "send 0x43 up\n=> swallow");
}

TEST_F(Decisions, OrientationConditionsAndFirstMatchWins) {
  h.Add(SwapEntry(kA, kScanA, {kB}, 0, 0, kPortraitOnly));
  h.Add(SwapEntry(kA, kScanA, {kC}, 0, 0, kLandscapeOnly));
  h.Add(SwapEntry(kA, kScanA, {0x44}));
  EXPECT_EQ(h.Down(kA, kScanA), "release\nsend 0x43 down\n=> swallow");
  h.Device().portrait = true;
  EXPECT_EQ(h.Down(kA, kScanA), "release\nsend 0x42 down\n=> swallow");
}

TEST_F(Decisions, UnknownTypeMatchesAndSwallowsSilently) {
  MapEntry odd = SwapEntry(kA, kScanA, {kB});
  odd.type = 7;
  h.Add(odd);
  EXPECT_EQ(h.Down(kA, kScanA), "=> swallow");
  EXPECT_EQ(h.Up(kA, kScanA), "=> swallow");
}

// --- Modifiers -----------------------------------------------------------------------------

TEST_F(Decisions, CtrlHeldAloneIsHeldBackThenReplayedWithItself) {
  h.Settings().debugMode = 1;
  EXPECT_EQ(h.Down(kVkCtrl, kScanCtrl, 1),
            "log WM_KEYDOWN: 0x11, 0x1d, 0x0\nlog lResult: TRUE\nlog ---------\n=> swallow");
  EXPECT_EQ(h.Down(kVkCtrl, kScanCtrl, 2),
            "log WM_KEYDOWN: 0x11, 0x1d, 0x0\n"
            "release\n"
            "log keybd_event: 0x11, 0xff, 0x0, 0x0\nsend 0x11 down\n"
            "log keybd_event: 0x11, 0xff, 0x0, 0x0\nsend 0x11 down\n"
            "log keybd_event: 0x11, 0xff, 0x2, 0x0\nsend 0x11 up\n"
            "log lResult: TRUE\nlog ---------\n=> swallow");
  // Without an entry the modifier's key-up passes.
  EXPECT_EQ(h.Up(kVkCtrl, kScanCtrl, 3),
            "log WM_KEYUP: 0x11, 0x1d, 0x0\nlog lResult: FALSE\nlog ---------\n=> pass");
}

TEST_F(Decisions, FlaggedModifiersWrapReplayedKeysInFixedOrder) {
  h.Down(0x86, 0x64);  // F23
  h.Down(kVkShift, kScanShift);
  h.Down(kVkCtrl, kScanCtrl);
  h.Down(0x5B, 0x5b);
  h.Device().held[kVkShift] = true;
  h.Device().held[0x86] = true;
  EXPECT_EQ(h.Down(kA, kScanA),
            "release\nsend 0x10 up\nsend 0x86 up\n"
            "send 0x11 down\nsend 0x10 down\nsend 0x5b down\nsend 0x86 down\n"
            "send 0x41 down\n"
            "send 0x11 up\nsend 0x10 up\nsend 0x5b up\nsend 0x86 up\n=> swallow");
}

TEST_F(Decisions, SecondModifierFirstPressIsHeldBackEvenWithAnEntry) {
  h.Add(SwapEntry(kVkShift, kScanShift, {kB}, kCtrl));
  h.Down(kVkCtrl, kScanCtrl, 1);
  EXPECT_EQ(h.Down(kVkShift, kScanShift, 2), "=> swallow");
  EXPECT_EQ(h.Down(kVkShift, kScanShift, 3), "release\nsend 0x42 down\n=> swallow");
}

TEST_F(Decisions, ConditionZeroExcludesOtherModifiersButNotTheKeyItself) {
  h.Add(SwapEntry(kA, kScanA, {kB}));
  h.Add(SwapEntry(kVkShift, kScanShift, {kC}));
  h.Down(kVkShift, kScanShift, 1);
  EXPECT_EQ(h.Down(kVkShift, kScanShift, 2), "release\nsend 0x43 down\n=> swallow");
  EXPECT_EQ(h.Down(kA, kScanA, 3),
            "release\nsend 0x10 down\nsend 0x41 down\nsend 0x10 up\n=> swallow");
}

TEST_F(Decisions, ModifierConditionsTestOnlyTheirOwnFlags) {
  h.Add(SwapEntry(kA, kScanA, {kB}, kCtrlShift));
  h.Add(SwapEntry(kA, kScanA, {kC}, kCtrl));
  h.Down(kVkCtrl, kScanCtrl);
  EXPECT_EQ(h.Down(kA, kScanA), "release\nsend 0x43 down\n=> swallow");
  h.Down(kVkShift, kScanShift);
  EXPECT_EQ(h.Down(kA, kScanA), "release\nsend 0x42 down\n=> swallow");
}

TEST_F(Decisions, CtrlComboSwallowsBothCtrlEvents) {
  h.Settings().debugMode = 1;
  h.Add(SwapEntry(kA, kScanA, {kB}, kCtrl));
  h.Down(kVkCtrl, kScanCtrl, 1);
  h.Down(kA, kScanA, 2);
  h.Up(kA, kScanA, 3);
  EXPECT_EQ(h.State().comboPending, 1u);
  EXPECT_EQ(h.Up(kVkCtrl, kScanCtrl, 4),
            "log WM_KEYUP: 0x11, 0x1d, 0x0\nlog WM_KEYUP has canceled\n"
            "log lResult: TRUE\nlog ---------\n=> swallow");
  EXPECT_EQ(h.State().comboPending, 0u);
}

TEST_F(Decisions, ComboCancelNeedsAnEntryForTheLastKeyAndKeepsPending) {
  h.Add(SwapEntry(kA, kScanA, {kB}, kCtrl));
  h.Down(kVkCtrl, kScanCtrl, 1);
  h.Down(kA, kScanA, 2);
  h.Up(kA, kScanA, 3);
  h.Down(kC, 0x2e, 4);  // unmapped key in between
  h.Up(kC, 0x2e, 5);
  EXPECT_EQ(h.Up(kVkCtrl, kScanCtrl, 6), "=> pass");
  EXPECT_EQ(h.State().comboPending, 1u);
}

TEST_F(Decisions, ModifierTapEntryActsOnlyWhenPressedAlone) {
  h.Settings().debugMode = 0;
  h.Add(SwapEntry(kVkShift, kScanShift, {0x1B}));
  h.Down(kVkShift, kScanShift, 1);
  EXPECT_EQ(h.Up(kVkShift, kScanShift, 2), "release\nsend 0x1b down\nsend 0x1b up\n=> swallow");
  h.Down(kVkShift, kScanShift, 3);
  h.Down(kA, kScanA, 4);
  EXPECT_EQ(h.Up(kVkShift, kScanShift, 5), "=> swallow");
}

TEST_F(Decisions, ModifierExecTapLaunchesWhenPressedAlone) {
  h.Settings().debugMode = 1;
  h.Add(ExecEntry(0x86, 0x64, u"\\Windows\\calc.exe"));
  h.Down(0x86, 0x64, 1);
  EXPECT_EQ(h.Up(0x86, 0x64, 2),
            "log WM_KEYUP: 0x86, 0x64, 0x0\nlog Exec(), 3\nlaunch 0\n"
            "log lResult: TRUE\nlog ---------\n=> swallow");
}

// --- Hold and tap --------------------------------------------------------------------------

class HoldDecisions : public Decisions {
 protected:
  void SetUp() override {
    h.Settings().debugMode = 1;
    h.Add(SwapEntry(kA, kScanA, {kB}, 0, 1));  // hold: B
    h.Add(SwapEntry(kA, kScanA, {kC}));        // tap: C
  }
  static std::string Framed(const std::string& middle, const char* event = "WM_KEYDOWN") {
    return std::string("log ") + event + ": 0x41, 0x1e, 0x0\n" + middle +
           "log lResult: TRUE\nlog ---------\n=> swallow";
  }
};

TEST_F(HoldDecisions, HoldFiresOnTheFirstRepeatPastTheDuration) {
  EXPECT_EQ(h.Down(kA, kScanA, 1000), Framed(""));
  EXPECT_EQ(h.Down(kA, kScanA, 1300), Framed(""));
  EXPECT_EQ(h.Down(kA, kScanA, 1499), Framed(""));
  EXPECT_EQ(h.Down(kA, kScanA, 1500),
            Framed("log HOLD: YES\nlog Swap()\nrelease\n"
                   "log keybd_event: 0x42, 0xff, 0x0, 0x0\nsend 0x42 down\n"
                   "log keybd_event: 0x42, 0xff, 0x2, 0x0\nsend 0x42 up\n"));
  EXPECT_EQ(h.Down(kA, kScanA, 1600), Framed(""));
  EXPECT_EQ(h.Up(kA, kScanA, 1650), Framed("", "WM_KEYUP"));
  EXPECT_EQ(h.State().holdStart, kHoldIdle);
}

TEST_F(HoldDecisions, EarlyReleaseRunsTheTapEntryAfterTheHoldEntry) {
  h.Down(kA, kScanA, 1000);
  h.Down(kA, kScanA, 1300);
  EXPECT_EQ(h.Up(kA, kScanA, 1400), Framed("log Swap()\nrelease\n"
                                           "log keybd_event: 0x43, 0xff, 0x0, 0x0\nsend 0x43 down\n"
                                           "log keybd_event: 0x43, 0xff, 0x2, 0x0\nsend 0x43 up\n",
                                           "WM_KEYUP"));
  EXPECT_EQ(h.State().holdStart, kHoldIdle);
}

TEST_F(HoldDecisions, HoldDurationComesFromTheSettings) {
  h.Settings().holdDuration = 100;
  h.Down(kA, kScanA, 1000);
  EXPECT_NE(h.Down(kA, kScanA, 1100).find("HOLD: YES"), std::string::npos);
}

TEST_F(Decisions, HoldGateDifferenceWrapsAround) {
  h.Add(SwapEntry(kA, kScanA, {kB}, 0, 1));
  EXPECT_EQ(h.Down(kA, kScanA, 0xFFFFFFF0), "=> swallow");
  EXPECT_EQ(h.Down(kA, kScanA, 0x1E3), "=> swallow");  // 0x1F3 = 499 ms later
  EXPECT_EQ(h.Down(kA, kScanA, 0x1F4), "release\nsend 0x42 down\nsend 0x42 up\n=> swallow");
  EXPECT_EQ(h.State().holdStart, kHoldFired);
}

TEST_F(Decisions, HoldStartAtTimeZeroCountsAsIdle) {
  h.Add(SwapEntry(kA, kScanA, {kB}, 0, 1));
  h.Down(kA, kScanA, 0);
  EXPECT_EQ(h.State().holdStart, 0u);
  EXPECT_EQ(h.Down(kA, kScanA, 600), "=> swallow");  // records 600, does not fire
  EXPECT_EQ(h.State().holdStart, 600u);
  EXPECT_EQ(h.Down(kA, kScanA, 1100), "release\nsend 0x42 down\nsend 0x42 up\n=> swallow");
}

TEST_F(Decisions, HoldOnlyKeyTypesItselfWithFlaggedModifiersWhenTapped) {
  h.Add(SwapEntry(kA, kScanA, {kB}, kShift, 1));
  h.Down(kVkShift, kScanShift, 1);
  EXPECT_EQ(h.Down(kA, kScanA, 10), "=> swallow");
  EXPECT_EQ(h.Up(kA, kScanA, 20),
            "release\nsend 0x10 down\nsend 0x41 down\nsend 0x41 up\nsend 0x10 up\n=> swallow");
  EXPECT_EQ(h.State().holdStart, kHoldIdle);
}

TEST_F(Decisions, TapEntryBeforeTheHoldEntryIsNotFoundAtRelease) {
  h.Add(SwapEntry(kA, kScanA, {kC}, 0, 0, kPortraitOnly));
  h.Add(SwapEntry(kA, kScanA, {kB}, 0, 1));
  h.Down(kA, kScanA, 10);
  EXPECT_EQ(h.Up(kA, kScanA, 20), "release\nsend 0x41 down\nsend 0x41 up\n=> swallow");
}

TEST_F(Decisions, TapEntryBeforeHoldEntryAlwaysWins) {
  h.Add(SwapEntry(kA, kScanA, {kC}));
  h.Add(SwapEntry(kA, kScanA, {kB}, 0, 1));
  for (uint32_t t = 0; t < 2000; t += 100) {
    EXPECT_EQ(h.Down(kA, kScanA, t + 1), "release\nsend 0x43 down\n=> swallow");
  }
}

TEST_F(Decisions, HoldExecLaunchesOnceAndTapExecAtEarlyRelease) {
  h.Add(ExecEntry(kA, kScanA, u"hold.exe", 0, 1));
  h.Add(ExecEntry(kA, kScanA, u"tap.exe"));
  h.Down(kA, kScanA, 100);
  EXPECT_EQ(h.Down(kA, kScanA, 700), "launch 0\n=> swallow");
  EXPECT_EQ(h.Down(kA, kScanA, 800), "=> swallow");
  EXPECT_EQ(h.Up(kA, kScanA, 900), "=> swallow");
  EXPECT_EQ(h.State().launchPosted, 0u);
  h.Down(kA, kScanA, 1000);
  EXPECT_EQ(h.Up(kA, kScanA, 1100), "launch 1\n=> swallow");
}

// --- Exec ----------------------------------------------------------------------------------

TEST_F(Decisions, ExecHeldThroughRepeatsLaunchesExactlyOnce) {
  h.Settings().debugMode = 1;
  h.Add(SwapEntry(kB, 0x30, {kC}));
  h.Add(ExecEntry(kA, kScanA, u"\\Windows\\calc.exe"));
  std::string all;
  for (uint32_t t = 0; t < 11; ++t) all += h.Down(kA, kScanA, t * 50) + "\n";
  size_t launches = 0;
  for (size_t at = all.find("launch 1"); at != std::string::npos;
       at = all.find("launch 1", at + 1)) {
    ++launches;
  }
  EXPECT_EQ(launches, 1u);
  EXPECT_EQ(h.Up(kA, kScanA, 600),
            "log WM_KEYUP: 0x41, 0x1e, 0x0\nlog Exec(), 4\nlog exe:TRUE\n"
            "log lResult: TRUE\nlog ---------\n=> swallow");
  EXPECT_EQ(h.State().launchPosted, 0u);
}

TEST_F(Decisions, ExecKeyUpWithoutKeyDownLaunches) {
  h.Add(ExecEntry(kA, kScanA, u"x.exe"));
  EXPECT_EQ(h.Up(kA, kScanA, 1), "launch 0\n=> swallow");
}

TEST_F(Decisions, LeftoverLaunchFlagSuppressesTheNextPress) {
  // A key-up that does not match (the modifier changed) leaves launchPosted set for any key.
  h.Add(ExecEntry(kA, kScanA, u"a.exe"));
  h.Add(ExecEntry(kC, 0x2e, u"c.exe"));
  EXPECT_EQ(h.Down(kA, kScanA, 1), "launch 0\n=> swallow");
  h.Down(kVkShift, kScanShift, 2);
  h.Up(kA, kScanA, 3);
  h.Up(kVkShift, kScanShift, 4);
  EXPECT_EQ(h.Down(kC, 0x2e, 5), "=> swallow");
}

// --- IME pair ------------------------------------------------------------------------------

TEST_F(Decisions, ImePairTogglesOnceInLandscape) {
  EXPECT_EQ(h.Down(0x5C, 0x11, 1), "=> swallow");
  EXPECT_EQ(h.Down(0x76, 0x11, 2),
            "release\nsend 0x5c down\nsend 0x76 down\nsend 0x5c up\nime open 0x9\n=> swallow");
  EXPECT_EQ(h.Up(0x76, 0x11, 3), "=> swallow");
  EXPECT_EQ(h.Up(0x5C, 0x11, 4), "=> swallow");
  EXPECT_EQ(h.Down(0x76, 0x11, 5), "release\nsend 0x76 down\nime close\n=> swallow");
}

TEST_F(Decisions, ImePairIsOrdinaryInPortraitOrWhenDisabled) {
  h.Device().portrait = true;
  h.Down(0x5C, 0x11, 1);
  EXPECT_EQ(h.Down(0x76, 0x11, 2),
            "release\nsend 0x5c down\nsend 0x76 down\nsend 0x5c up\n=> swallow");
  EXPECT_EQ(h.Up(0x76, 0x11, 3), "=> pass");
  h.Device().portrait = false;
  h.Settings().useImeToggle = 0;
  h.Down(0x5C, 0x11, 4);
  EXPECT_EQ(h.Up(0x76, 0x11, 5), "=> pass");
}

TEST_F(Decisions, ImeToggleKeepsRomanAndDropsOtherBits) {
  h.Device().imeConversion = 0x1B;
  h.Down(0x5C, 0x11, 1);
  EXPECT_NE(h.Down(0x76, 0x11, 2).find("ime open 0x19"), std::string::npos);
  h.Device().imeOpen = false;
  h.Device().imeConversion = 0x03;
  h.Up(0x5C, 0x11, 3);
  EXPECT_NE(h.Call(0, 0x102, 0x76, 0x11, 4).find("ime open 0x9"), std::string::npos);
}

}  // namespace
}  // namespace keytwine::testing
