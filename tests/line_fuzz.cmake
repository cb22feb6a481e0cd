# The handset's line decoder under fuzzing: the saved corpus is replayed
# through the same harness that ./dev fuzz builds natively with libFuzzer.
tv_add_fuzz_replay(line bravik32_static)
