# The operator window (tovalink): Qt 6 Widgets from Debian's qt6-base-dev.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Test)

add_library(tovalink_window STATIC main_window.cpp UTrayIcon.cpp rule_dialog.cpp icons/app_icon.cpp)
tovalink_target(tovalink_window)
target_link_libraries(tovalink_window PUBLIC tovalink_app Qt6::Widgets Qt6::Gui Qt6::Core)

add_executable(tovalink tovalink.cpp)
tovalink_target(tovalink)
target_link_libraries(tovalink PRIVATE tovalink_window)

if(BUILD_TESTING)
  # Runs with QT_QPA_PLATFORM=offscreen (set by the test itself when the variable is missing).
  # Leaves a picture of the window and of the icon in the build tree for a person to look at.
  tovalink_test(window_test window_test.cpp rule_dialog_test.cpp)
  target_link_libraries(window_test PRIVATE tovalink_window tovalink_modem_testing
                                            tovalink_processtesting Qt6::Test)
  target_compile_definitions(window_test PRIVATE
                             WINDOW_SCREENSHOT="${CMAKE_BINARY_DIR}/window.png"
                             ICON_PICTURE="${CMAKE_BINARY_DIR}/tovalink-icon.png")
endif()
