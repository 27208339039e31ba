# Fails when the README's C example and examples/send_items.c differ.
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "```c\n${example}```" found)
if(found EQUAL -1)
  message(FATAL_ERROR "the C example in README.md differs from examples/send_items.c")
endif()
