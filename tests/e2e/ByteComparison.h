#pragma once
// Exact comparison of program output with a readable report: on a mismatch it names the first
// differing byte and shows the bytes around it in both texts, escaped, with a marker under it.
//
//   EXPECT_PRED_FORMAT2(BytesEqual, expected, run.out);

#include <gtest/gtest.h>

#include <string>

testing::AssertionResult BytesEqual(const char* expectedExpression, const char* actualExpression,
                                    const std::string& expected, const std::string& actual);

// Compares only the end of `actual`, for output whose beginning a test does not pin down.
testing::AssertionResult BytesEndWith(const char* expectedExpression, const char* actualExpression,
                                      const std::string& expectedEnd, const std::string& actual);

// Printable ASCII as is, backslash doubled, CR, LF and tab as \r \n \t, anything else as \xHH.
std::string EscapeBytes(const std::string& bytes);
