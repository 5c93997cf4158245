#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/exception_translation.h"

namespace {

using namespace quarrow::platform;

// Derives from std::exception privately, like the matrix errors of the
// core: a handler for std::exception does not catch it.
class PrivateStdError : private std::exception {};

class DerivedRange : public std::out_of_range {
public:
    DerivedRange() : std::out_of_range("derived") {}
};

template <class E>
HRESULT translated(E error) {
    return guardedCall([&]() -> HRESULT { throw error; });
}

TEST(ExceptionTranslation, MapsStandardExceptionsToTheirCodes) {
    EXPECT_EQ(translated(std::bad_alloc()), E_OUTOFMEMORY);
    EXPECT_EQ(translated(std::bad_array_new_length()), E_OUTOFMEMORY);
    EXPECT_EQ(translated(std::out_of_range("x")), E_BOUNDS);
    EXPECT_EQ(translated(DerivedRange()), E_BOUNDS);
    EXPECT_EQ(translated(std::invalid_argument("x")), E_INVALIDARG);
}

TEST(ExceptionTranslation, AnythingElseIsAPlainFailure) {
    EXPECT_EQ(translated(std::logic_error("x")), E_FAIL);
    EXPECT_EQ(translated(std::length_error("x")), E_FAIL);
    EXPECT_EQ(translated(std::runtime_error("x")), E_FAIL);
    EXPECT_EQ(translated(std::exception()), E_FAIL);
    EXPECT_EQ(translated(PrivateStdError()), E_FAIL);
    EXPECT_EQ(translated(42), E_FAIL);
    EXPECT_EQ(translated(std::string("text")), E_FAIL);
}

TEST(ExceptionTranslation, RealFailuresOfTheLibraryAreTranslated) {
    EXPECT_EQ(guardedCall([] { return static_cast<HRESULT>(std::vector<int>(1).at(5)); }), E_BOUNDS);
    EXPECT_EQ(guardedCall([] { return static_cast<HRESULT>(std::stoi("not a number")); }), E_INVALIDARG);
}

TEST(ExceptionTranslation, ResultOfANormalReturnPasses) {
    EXPECT_EQ(guardedCall([] { return S_OK; }), S_OK);
    EXPECT_EQ(guardedCall([] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(guardedCall([] { return E_NOINTERFACE; }), E_NOINTERFACE);
}

TEST(ResultCodes, HaveTheWindowsValues) {
    EXPECT_EQ(S_OK, 0);
    EXPECT_EQ(S_FALSE, 1);
    EXPECT_EQ(static_cast<std::uint32_t>(E_OUTOFMEMORY), 0x8007000Eu);
    EXPECT_EQ(static_cast<std::uint32_t>(E_BOUNDS), 0x8000000Bu);
    EXPECT_EQ(static_cast<std::uint32_t>(E_INVALIDARG), 0x80070057u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_NOINTERFACE), 0x80004002u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_POINTER), 0x80004003u);
    EXPECT_EQ(static_cast<std::uint32_t>(CLASS_E_CLASSNOTAVAILABLE), 0x80040111u);
    EXPECT_TRUE(failed(E_FAIL));
    EXPECT_TRUE(succeeded(S_FALSE));
}

}  // namespace
