/*
** main.cpp -- morvenda: run the herd model on one bio file.
**
**   morvenda herd.bio
*/
#include "run/driver.h"

int main(int argc, char** argv)
{
    return MORVENDA_RUN(argc, argv);
}
