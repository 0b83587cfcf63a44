# The network runtime's receive path: one IOThread serving a UDP socket against a bare blocking
# recvfrom loop, plus post latency and idle tick spacing. Run it inside `unshare -n` (loopback only).
kesto_add_bench(base_receive_bench SOURCES base_receive_bench.cpp LIBS kesto::base)
