// Resource ids of Brankel.exe, shared by its resource script and its code.
#pragma once
