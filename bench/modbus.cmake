# Modbus round trips against the controller emulator on a pseudo-terminal.
add_executable(modbus_bench ${CMAKE_CURRENT_LIST_DIR}/modbus_bench.cpp)
target_link_libraries(modbus_bench PRIVATE tool_modbus sim_controller benchmark::benchmark ostrel_options)
