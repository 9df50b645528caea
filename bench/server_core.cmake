add_executable(server_core_bench server_core_bench.cpp)
target_link_libraries(server_core_bench PRIVATE server_link Qt6::Widgets benchmark::benchmark ostrel_options)
