// The post-processor variables, registered at start-up in their fixed order.
#include "cam/cnc.h"

#include "sys/var.h"

const char *const cnc_postvarnames[cnc_postvarcount] = {
    "Version", "FileExtension", "ReadStart", "ReadStop", "UseRelativeCoord", "UseToolChange", "UseSpindle",
    "UseCoolant", "UseComments", "CommentBegin", "CommentEnd", "UseSequenceNums", "SequenceComments",
    "SequencePrefix", "SequenceDigits", "SequenceStart", "SequenceInc", "Delimiter", "EndOfBlock", "UsePlusSign",
    "TwoDigitTool", "Units", "ModalMotion", "ModalCoord", "ModalCenter", "ModalSpeed", "ModalFeed", "SpeedScale",
    "SpeedMin", "SpeedMax", "SpeedDecimals", "SpeedTrailingZeroes", "FeedScale", "FeedMin", "FeedMax",
    "FeedDecimals", "FeedTrailingZeroes", "MotionScaleX", "MotionScaleY", "MotionScaleZ", "MotionDecimals",
    "MotionTrailingZeroes", "ArcFormat", "ArcCenterFormat", "ArcPlaneYZ", "ArcPlaneXZ", "ArcPlaneXY",
    "ArcSignedRadius", "ArcMaxAngle", "CodeRapid", "CodeLinear", "CodeArcCW", "CodeArcCCW", "CodeYZPlane",
    "CodeXZPlane", "CodeXYPlane", "CodeInches", "CodeMetric", "CodeAbsolute", "CodeRelative", "CodeSpindleCW",
    "CodeSpindleCCW", "CodeSpindleOff", "CodeToolChange", "CodeCoolantMist", "CodeCoolantFlood", "CodeCoolantOff",
    "CodeEndProgram", "RegisterX", "RegisterY", "RegisterZ", "RegisterI", "RegisterJ", "RegisterK", "RegisterR",
    "RegisterSpeed", "RegisterFeed", "RegisterTool", "PrefixBlock", "PostfixBlock", "ToolChangeBlock",
    "SpindleCWBlock", "SpindleCCWBlock", "SpindleOffBlock", "CoolantMistBlock", "CoolantFloodBlock",
    "CoolantOffBlock", "RapidBlock", "LinearBlock", "ArcBlock", "CNC_SEQUENCE", "CNC_UNITS", "CNC_DISTANCE",
    "CNC_PLANE", "CNC_TOOL", "CNC_FEED", "CNC_SPEED", "CNC_X", "CNC_Y", "CNC_Z", "CNC_I", "CNC_J", "CNC_K",
    "CNC_R", "CNC_GCODE",
};

int postvars[cnc_postvarcount];

int cnc_init()
{
    int ok = 1;
    for (int i = 0; i < cnc_postvarcount; i++) {
        postvars[i] = var_new(cnc_postvarnames[i]);
        if (postvars[i] < 0)
            ok = 0;
    }
    return ok;
}
