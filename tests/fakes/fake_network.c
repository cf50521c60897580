/* Counts the network start-up and shut-down calls, and remembers their order. */
int fake_network_init_calls = 0;
int fake_network_deinit_calls = 0;
int fake_network_sequence = 0;
int fake_network_init_position = 0;
int fake_network_deinit_position = 0;

int avformat_network_init(void) {
  ++fake_network_init_calls;
  fake_network_init_position = ++fake_network_sequence;
  return 0;
}

int avformat_network_deinit(void) {
  ++fake_network_deinit_calls;
  fake_network_deinit_position = ++fake_network_sequence;
  return 0;
}
