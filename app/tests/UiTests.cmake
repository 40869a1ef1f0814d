# Tests of the windows and controls: a real application object on Qt's offscreen platform, with
# HOME, the settings and the documents folder in a temporary folder (TempHome).
find_package(Qt6 REQUIRED COMPONENTS Test)

set(LANYARD_UI_TEST_ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen"
  # Nothing a test starts may reach a D-Bus system bus (and through it Avahi).
  "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/lanyard-test-bus"
  "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/UiLeakSuppressions.txt:print_suppressions=0")
set(LANYARD_UI_ARTIFACT_DIR ${CMAKE_BINARY_DIR}/test-artifacts)

add_library(app_ui_test_support OBJECT
  tests/TempHome.cpp
  tests/UiTestMain.cpp
  tests/UiTestSupport.cpp)
lanyard_set_warnings(app_ui_test_support)
target_link_libraries(app_ui_test_support PUBLIC app_ui Qt6::Test GTest::gtest)

# A GoogleTest program of window tests with the support objects and its own main.
function(lanyard_add_ui_test_program name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  lanyard_set_warnings(${name})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE LANYARD_ARTIFACT_DIR="${LANYARD_UI_ARTIFACT_DIR}")
  target_link_libraries(${name} PRIVATE app_ui_test_support app_ui Qt6::Test GTest::gtest Threads::Threads)
endfunction()

lanyard_add_ui_test_program(app_ui_tests
  tests/AppConformanceTest.cpp
  tests/RunCommand.cpp
  tests/AppMainWindowTest.cpp
  tests/AppSettingsWindowTest.cpp
  tests/UiApplicationTest.cpp
  tests/UiFlatButtonTest.cpp
  tests/UiMainQueueTest.cpp
  tests/UiTextTest.cpp)
lanyard_copy_webuploader_bundle(app_ui_tests)
# The AppConformanceInNamespace cases only run inside the namespace their wrapper test creates.
gtest_discover_tests(app_ui_tests
  DISCOVERY_TIMEOUT 60
  TEST_FILTER "-AppConformanceInNamespace.*"
  PROPERTIES TIMEOUT 120 LABELS "ui" ENVIRONMENT "${LANYARD_UI_TEST_ENVIRONMENT}")

# Pictures of the main window, the settings window and an alert, saved under test-artifacts/.
lanyard_add_ui_test_program(app_window_screenshots tests/AppWindowScreenshotTest.cpp)
lanyard_add_script_test(NAME app_window_screenshots
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/UiScreenshots.sh $<TARGET_FILE:app_window_screenshots>
  TIMEOUT 180 LABELS "ui")
set_tests_properties(app_window_screenshots PROPERTIES ENVIRONMENT
  "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/lanyard-test-bus;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/UiLeakSuppressions.txt:print_suppressions=0")

# The services started from the window, each case run by app_window_netns_tests inside a network
# namespace of its own (never discovered on its own: outside a namespace it would skip).
lanyard_add_ui_test_program(app_window_service_probe
  tests/AppMainWindowServiceProbe.cpp tests/AppMainWindowDlnaProbe.cpp tests/RunCommand.cpp)
# The media server cases reach their client namespace through tests/e2e/netns_lib.sh and
# tests/dlna_browse.py (a GUPnP control point).
target_compile_definitions(app_window_service_probe PRIVATE LANYARD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
lanyard_copy_webuploader_bundle(app_window_service_probe)
add_executable(app_window_netns_tests tests/AppMainWindowNamespaceTest.cpp tests/RunCommand.cpp)
lanyard_set_warnings(app_window_netns_tests)
target_link_libraries(app_window_netns_tests PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(app_window_netns_tests PRIVATE
  APP_WINDOW_SERVICE_PROBE="$<TARGET_FILE:app_window_service_probe>"
  LANYARD_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  LANYARD_WEBUPLOADER_BUNDLE="${LANYARD_WEBUPLOADER_BUNDLE_SOURCE}")
add_dependencies(app_window_netns_tests app_window_service_probe)
gtest_discover_tests(app_window_netns_tests
  DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 LABELS "ui" ENVIRONMENT
  "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/UiLeakSuppressions.txt:print_suppressions=0")

# The program itself starts, sets up its share list and settings, and keeps running.
lanyard_add_script_test(NAME app_lanyard_starts
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/UiLaunchSmoke.sh $<TARGET_FILE:lanyard>
  TIMEOUT 60 LABELS "ui")
