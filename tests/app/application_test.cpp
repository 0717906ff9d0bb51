#include "app/application.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace kelmo {
namespace {

TEST(application, fatal_report_gives_number_and_description) {
  struct Row {
    const char* name;
    std::exception_ptr error;
    int number;
    const char* mentions;
  };
  const Row rows[] = {
      {"system_error",
       std::make_exception_ptr(std::system_error(EACCES, std::generic_category(), "open x")),
       EACCES, "open x"},
      {"bad_alloc", std::make_exception_ptr(std::bad_alloc()), ENOMEM, ""},
      {"runtime_error", std::make_exception_ptr(std::runtime_error("broken state")), -1,
       "broken state"},
      {"not_an_exception", std::make_exception_ptr(42), -1, ""},
  };
  for (const Row& row : rows) {
    const FatalReport report = DescribeFatal(row.error);
    EXPECT_EQ(report.number, row.number) << row.name;
    EXPECT_FALSE(report.description.isEmpty()) << row.name;
    EXPECT_TRUE(report.description.contains(QLatin1String(row.mentions))) << row.name;
  }
}

}  // namespace
}  // namespace kelmo
