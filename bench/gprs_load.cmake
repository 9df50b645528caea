# GPRS load: the bare receiver (a yardstick with no Qt at all: it compiles the
# CRC routine in) and the load driver that starts a receiver and loads it
# with emulated controllers.
add_executable(bare_receiver ${CMAKE_CURRENT_LIST_DIR}/bare_receiver.cpp ${PROJECT_SOURCE_DIR}/common/crc16.cpp)
target_include_directories(bare_receiver PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bare_receiver PRIVATE ostrel_options)

add_executable(gprs_load ${CMAKE_CURRENT_LIST_DIR}/gprs_load.cpp)
target_link_libraries(gprs_load PRIVATE sim_gprs Qt6::Core ostrel_options)
add_dependencies(gprs_load bare_receiver)
