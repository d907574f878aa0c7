#pragma once
// Waiting for a condition while the event loop runs, failing the gtest test
// when it never comes. Qt Test's own QTRY_ macros only record a failure for
// a Qt Test run: under gtest a test that never saw its condition passed.
#include <QTest>

#include <gtest/gtest.h>

#define TRY_VERIFY_WITH_TIMEOUT(expr, timeoutMs) \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(expr); }, (timeoutMs))) << "never became true: " #expr

#define TRY_VERIFY(expr) TRY_VERIFY_WITH_TIMEOUT(expr, 5000)

#define TRY_COMPARE_WITH_TIMEOUT(actual, expected, timeoutMs)                  \
    do {                                                                       \
        (void)QTest::qWaitFor([&] { return (actual) == (expected); }, (timeoutMs)); \
        ASSERT_EQ((actual), (expected)) << "never became equal";               \
    } while (false)

#define TRY_COMPARE(actual, expected) TRY_COMPARE_WITH_TIMEOUT(actual, expected, 5000)
