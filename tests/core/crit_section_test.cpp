// CritSection and AutoLock: re-entry on one thread, early release and a null section.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <type_traits>

#include "core/crit_section.h"

namespace {

using kestra::AutoLock;
using kestra::CritSection;

// CritSection holds nothing but the platform's critical section, so a test
// may ask another thread whether it could enter.
static_assert(std::is_standard_layout<CritSection>::value &&
                  sizeof(CritSection) == sizeof(CRITICAL_SECTION),
              "CritSection wraps exactly one CRITICAL_SECTION");

bool OtherThreadCanEnter(CritSection &cs) {
    auto *raw = reinterpret_cast<CRITICAL_SECTION *>(&cs);
    bool entered = false;
    std::thread([&] {
        entered = TryEnterCriticalSection(raw);
        if (entered) LeaveCriticalSection(raw);
    }).join();
    return entered;
}

TEST(AutoLockGuard, NestedGuardsOnOneThreadHoldUntilTheOuterGoes) {
    CritSection cs;
    {
        AutoLock outer(cs);
        {
            AutoLock inner(&cs);
            EXPECT_FALSE(OtherThreadCanEnter(cs));
        }
        EXPECT_FALSE(OtherThreadCanEnter(cs)) << "inner guard left the outer's hold";
    }
    EXPECT_TRUE(OtherThreadCanEnter(cs));
}

TEST(AutoLockGuard, ReleaseLeavesOnceAndDestructionThenDoesNothing) {
    CritSection cs;
    AutoLock outer(cs);
    {
        AutoLock inner(cs);
        inner.Release();
        EXPECT_FALSE(OtherThreadCanEnter(cs)) << "outer hold still in force";
    }
    EXPECT_FALSE(OtherThreadCanEnter(cs)) << "released guard left again on destruction";
    outer.Release();
    EXPECT_TRUE(OtherThreadCanEnter(cs));
    outer.Release();  // a second release is harmless
    EXPECT_TRUE(OtherThreadCanEnter(cs));
    AutoLock none(static_cast<CritSection *>(nullptr));  // a null section is ignored
    none.Release();
}

}  // namespace
