#pragma once

// controls.ini as the game expects it for each layout, written out by hand.

#include <string>

const std::string wasdControlsFile = "up=w\n"
                                     "console=t\n"
                                     "left=a\n"
                                     "down=s\n"
                                     "right=d\n"
                                     "l2=z\n"
                                     "l1=x\n"
                                     "r1=c\n"
                                     "r2=v\n"
                                     "triangle=uparrow\n"
                                     "square=leftarrow\n"
                                     "cross=downarrow\n"
                                     "circle=rightarrow\n"
                                     "switchInputMode=tab\n"
                                     "start=return\n"
                                     "select=space\n";

const std::string arrowControlsFile = "l2=q\n"
                                      "l1=w\n"
                                      "r1=e\n"
                                      "r2=r\n"
                                      "console=t\n"
                                      "square=a\n"
                                      "circle=s\n"
                                      "cross=z\n"
                                      "triangle=x\n"
                                      "up=uparrow\n"
                                      "left=leftarrow\n"
                                      "down=downarrow\n"
                                      "right=rightarrow\n"
                                      "switchInputMode=tab\n"
                                      "start=return\n"
                                      "select=space\n";
