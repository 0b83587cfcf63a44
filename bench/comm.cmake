# Checksums and the frame check on the command path.
kesto_add_bench(crc_bench SOURCES crc_bench.cpp LIBS kesto::comm)
