/* Started once at configure time: if it prints its line, programs of the target system run here. */
#include <stdio.h>

int main(void) {
    printf("target programs run\n");
    return 0;
}
