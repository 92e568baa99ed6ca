// A held-out sample of real English for the quality test of the default
// English set's tagger and grouper: sentences of the Python 3.11
// documentation (python3.11-doc) and of licence texts
// (/usr/share/common-licenses), tagged and bracketed by hand. None of the
// data the set is built from contains them.
//
// One sentence per line, tokens as the English tokenizer cuts them,
// separated by blanks: WORD/TAG with a Penn tag, "[" and "]" around each
// base noun phrase. Conventions of the bracketing:
// - a phrase is noun-headed: a determiner, possessive or predeterminer,
//   modifiers (adjectives, numbers, nouns, participles) and its nouns; a
//   lone pronoun is no phrase;
// - a possessive "'s" continues the phrase ("[the program's output]");
// - numbers after a noun that name it belong to it ("[version 3.6]");
// - coordinated nouns are phrases of their own ("[files] and [folders]"),
//   coordinated modifiers of one noun are not;
// - a participle after a determiner or adjective modifies ("[the given
//   string]").
#pragma once

namespace vorlane::zop_test {

inline constexpr const char* kTaggingSample[] = {
    // tutorial/classes
    "Just/RB pretend/VB that/IN [the/DT class/NN object/NN] is/VBZ [a/DT parameterless/JJ function/NN] that/WDT "
    "returns/VBZ [a/DT new/JJ instance/NN] of/IN [the/DT class/NN] ./SENT",
    "[The/DT only/JJ operations/NNS] understood/VBN by/IN [instance/NN objects/NNS] are/VBP [attribute/NN "
    "references/NNS] ./SENT",
    "As/IN in/IN [Smalltalk/NNP] ,/COMMA [classes/NNS] themselves/PRP are/VBP [objects/NNS] ./SENT",
    "This/DT is/VBZ nothing/NN more/JJR than/IN [a/DT convention/NN] :/COLON [the/DT name/NN self/NN] has/VBZ "
    "absolutely/RB [no/DT special/JJ meaning/NN] to/TO [Python/NNP] ./SENT",
    "This/DT is/VBZ usually/RB used/VBN to/TO [the/DT benefit/NN] of/IN [the/DT program/NN] ,/COMMA since/IN "
    "[aliases/NNS] behave/VBP like/IN [pointers/NNS] in/IN [some/DT respects/NNS] ./SENT",
    "[The/DT syntax/NN] for/IN [a/DT derived/VBN class/NN definition/NN] looks/VBZ like/IN this/DT :/COLON",
    "This/DT provides/VBZ [semantics/NNS] for/IN importing/VBG and/CC renaming/VBG ./SENT",
    "If/IN [the/DT same/JJ attribute/NN name/NN] occurs/VBZ in/IN both/CC [an/DT instance/NN] and/CC in/IN "
    "[a/DT class/NN] ,/COMMA then/RB [attribute/NN lookup/NN] prioritizes/VBZ [the/DT instance/NN] :/COLON",
    "[Class/NN definitions/NNS] play/VBP [some/DT neat/JJ tricks/NNS] with/IN [namespaces/NNS] ./SENT",
    "[Methods/NNS] may/MD call/VB [other/JJ methods/NNS] by/IN using/VBG [method/NN attributes/NNS] of/IN "
    "[the/DT self/NN argument/NN] ./SENT",
    "[Each/DT value/NN] is/VBZ [an/DT object/NN] ,/COMMA and/CC therefore/RB has/VBZ [a/DT class/NN] ./SENT",
    "[Data/NNS attributes/NNS] override/VBP [method/NN attributes/NNS] with/IN [the/DT same/JJ name/NN] ./SENT",
    // library/os.path
    "Return/VB [True/NNP] if/IN [path/NN] refers/VBZ to/TO [an/DT existing/JJ path/NN] or/CC [an/DT open/JJ "
    "file/NN descriptor/NN] ./SENT",
    "Unlike/IN [a/DT Unix/NNP shell/NN] ,/COMMA [Python/NNP] does/VBZ not/RB do/VB [any/DT automatic/JJ path/NN "
    "expansions/NNS] ./SENT",
    "Changed/VBN in/IN [version/NN 3.6/CD] :/COLON Accepts/VBZ [a/DT path-like/JJ object/NN] ./SENT",
    "Return/VB [True/NNP] if/IN [path/NN] is/VBZ [an/DT absolute/JJ pathname/NN] ./SENT",
    "Since/IN [different/JJ operating/NN systems/NNS] have/VBP [different/JJ path/NN name/NN conventions/NNS] "
    ",/COMMA there/EX are/VBP [several/JJ versions/NNS] of/IN [this/DT module/NN] in/IN [the/DT standard/JJ "
    "library/NN] ./SENT",
    "[The/DT result/NN] is/VBZ [an/DT object/NN] of/IN [the/DT same/JJ type/NN] ,/COMMA if/IN [a/DT path/NN] "
    "or/CC [file/NN name/NN] is/VBZ returned/VBN ./SENT",
    "If/IN [path/NN] is/VBZ empty/JJ ,/COMMA both/CC [head/NN] and/CC [tail/NN] are/VBP empty/JJ ./SENT",
    "Return/VB [the/DT longest/JJS common/JJ sub-path/NN] of/IN [each/DT pathname/NN] in/IN [the/DT sequence/NN "
    "paths/NNS] ./SENT",
    "On/IN [Windows/NNP] ,/COMMA [the/DT drive/NN letter/NN] is/VBZ not/RB reset/VBN when/WRB [an/DT absolute/JJ "
    "path/NN component/NN] is/VBZ encountered/VBN ./SENT",
    "[This/DT function/NN] may/MD return/VB [invalid/JJ paths/NNS] because/IN it/PRP works/VBZ [a/DT "
    "character/NN] at/IN [a/DT time/NN] ./SENT",
    "Return/VB [the/DT size/NN] ,/COMMA in/IN [bytes/NNS] ,/COMMA of/IN [path/NN] ./SENT",
    "Raise/VB [OSError/NNP] if/IN [the/DT file/NN] does/VBZ not/RB exist/VB or/CC is/VBZ inaccessible/JJ ./SENT",
    // library/subprocess
    "[DEVNULL/NNP] indicates/VBZ that/IN [the/DT special/JJ file/NN os.devnull/NN] will/MD be/VB used/VBN ./SENT",
    "[Arguments/NNS] are/VBP delimited/VBN by/IN [white/JJ space/NN] ,/COMMA which/WDT is/VBZ either/CC [a/DT "
    "space/NN] or/CC [a/DT tab/NN] ./SENT",
    "[A/DT string/NN] surrounded/VBN by/IN [double/JJ quotation/NN marks/NNS] is/VBZ interpreted/VBN as/IN [a/DT "
    "single/JJ argument/NN] ./SENT",
    "If/IN [the/DT stdin/NN argument/NN] was/VBD not/RB [PIPE/NNP] ,/COMMA [this/DT attribute/NN] is/VBZ "
    "[None/NNP] ./SENT",
    "[The/DT arguments/NNS] used/VBN to/TO launch/VB [the/DT process/NN] ./SENT",
    "[PIPE/NNP] indicates/VBZ that/IN [a/DT new/JJ pipe/NN] to/TO [the/DT child/NN] should/MD be/VB created/VBN "
    "./SENT",
    "It/PRP offers/VBZ [a/DT lot/NN] of/IN [flexibility/NN] so/IN that/IN [developers/NNS] are/VBP able/JJ to/TO "
    "handle/VB [the/DT less/RBR common/JJ cases/NNS] not/RB covered/VBN by/IN [the/DT convenience/NN "
    "functions/NNS] ./SENT",
    "[Partial/JJ support/NN] of/IN [the/DT Windows/NNP STARTUPINFO/NNP structure/NN] is/VBZ used/VBN for/IN "
    "[Popen/NNP creation/NN] ./SENT",
    "By/IN [default/NN] ,/COMMA [the/DT program/NN] to/TO execute/VB is/VBZ [the/DT first/JJ item/NN] in/IN "
    "[args/NNS] if/IN [args/NNS] is/VBZ [a/DT sequence/NN] ./SENT",
    "[This/DT module/NN] intends/VBZ to/TO replace/VB [several/JJ older/JJR modules/NNS] and/CC [functions/NNS] "
    "./SENT",
    "Wait/VB for/IN [the/DT command/NN] to/TO complete/VB ,/COMMA then/RB return/VB [the/DT returncode/NN "
    "attribute/NN] ./SENT",
    "[The/DT timeout/NN argument/NN] is/VBZ passed/VBN to/TO [Popen.communicate/NN] ./SENT",
    // tutorial/modules
    "It/PRP also/RB includes/VBZ [any/DT submodules/NNS] of/IN [the/DT package/NN] that/WDT were/VBD "
    "explicitly/RB loaded/VBN by/IN [previous/JJ import/NN statements/NNS] ./SENT",
    "This/DT imports/VBZ [all/DT names/NNS] except/IN those/DT beginning/VBG with/IN [an/DT underscore/NN] "
    "./SENT",
    "[These/DT imports/NNS] use/VBP [leading/VBG dots/NNS] to/TO indicate/VB [the/DT current/JJ and/CC parent/NN "
    "packages/NNS] involved/VBN in/IN [the/DT relative/JJ import/NN] ./SENT",
    "[Python/NNP] does/VBZ not/RB check/VB [the/DT cache/NN] in/IN [two/CD circumstances/NNS] ./SENT",
    "If/IN [the/DT module/NN] is/VBZ imported/VBN ,/COMMA [the/DT code/NN] is/VBZ not/RB run/VBN :/COLON",
    "It/PRP is/VBZ initialized/VBN to/TO [a/DT default/NN path/NN] taken/VBN from/IN [the/DT environment/NN "
    "variable/NN PYTHONPATH/NNP] ./SENT",
    "If/IN you/PRP intend/VBP to/TO use/VB [a/DT function/NN] often/RB you/PRP can/MD assign/VB it/PRP to/TO "
    "[a/DT local/JJ name/NN] :/COLON",
    "If/IN it/PRP fails/VBZ to/TO find/VB it/PRP ,/COMMA [an/DT ImportError/NNP exception/NN] is/VBZ raised/VBN "
    "./SENT",
    "[A/DT module/NN] can/MD contain/VB [executable/JJ statements/NNS] as/RB well/RB as/IN [function/NN "
    "definitions/NNS] ./SENT",
    "[Each/DT module/NN] has/VBZ [its/PRP$ own/JJ private/JJ namespace/NN] ./SENT",
    "[Packages/NNS] are/VBP [a/DT way/NN] of/IN structuring/VBG [Python/NNP 's/POS module/NN namespace/NN] by/IN "
    "using/VBG [dotted/VBN module/NN names/NNS] ./SENT",
    "[The/DT directory/NN] containing/VBG [the/DT input/NN script/NN] is/VBZ added/VBN to/TO [the/DT search/NN "
    "path/NN] ./SENT",
    "[Compiled/VBN files/NNS] are/VBP platform/NN independent/JJ ./SENT",
    "[The/DT module/NN compileall/NN] can/MD create/VB [pyc/NN files/NNS] for/IN [all/DT modules/NNS] in/IN "
    "[a/DT directory/NN] ./SENT",
    // library/logging
    "Changed/VBN in/IN [version/NN 3.9/CD] :/COLON [The/DT encoding/NN] and/CC [errors/NNS arguments/NNS] "
    "were/VBD added/VBN ./SENT",
    "If/IN you/PRP choose/VBP to/TO use/VB [these/DT attributes/NNS] in/IN [logged/VBN messages/NNS] ,/COMMA "
    "you/PRP need/VBP to/TO exercise/VB [some/DT care/NN] ./SENT",
    "[The/DT base/NN filter/NN class/NN] only/RB allows/VBZ [events/NNS] which/WDT are/VBP below/IN [a/DT "
    "certain/JJ point/NN] in/IN [the/DT logger/NN hierarchy/NN] ./SENT",
    "[The/DT other/JJ arguments/NNS] are/VBP interpreted/VBN as/IN for/IN [debug/NN] ./SENT",
    "Returns/VBZ [a/DT new/JJ instance/NN] of/IN [the/DT Formatter/NNP class/NN] ./SENT",
    "Sets/VBZ [the/DT threshold/NN] for/IN [this/DT handler/NN] to/TO [level/NN] ./SENT",
    "[This/DT format/NN string/NN] contains/VBZ [standard/JJ Python/NNP mapping/NN keys/NNS] ./SENT",
    "For/IN [example/NN] ,/COMMA they/PRP could/MD be/VB incorporated/VBN into/IN [logged/VBN messages/NNS] "
    "./SENT",
    "Note/VB that/IN [this/DT argument/NN] is/VBZ incompatible/JJ with/IN [filename/NN] or/CC [stream/NN] "
    "./SENT",
    "[Loggers/NNS] should/MD never/RB be/VB instantiated/VBN directly/RB ./SENT",
    "[The/DT logging/NN module/NN] defines/VBZ [functions/NNS] and/CC [classes/NNS] which/WDT implement/VBP [a/DT "
    "flexible/JJ event/NN logging/NN system/NN] for/IN [applications/NNS] and/CC [libraries/NNS] ./SENT",
    "[Handlers/NNS] send/VBP [the/DT log/NN records/NNS] to/TO [the/DT appropriate/JJ destination/NN] ./SENT",
    "[The/DT default/NN level/NN] is/VBZ [WARNING/NNP] ./SENT",
    "[Multiple/JJ calls/NNS] to/TO [getLogger/NN] with/IN [the/DT same/JJ name/NN] will/MD always/RB return/VB "
    "[a/DT reference/NN] to/TO [the/DT same/JJ Logger/NNP object/NN] ./SENT",
    "[This/DT method/NN] should/MD be/VB called/VBN from/IN [handlers/NNS] ./SENT",
    "[Filters/NNS] can/MD be/VB used/VBN by/IN [Handlers/NNS] and/CC [Loggers/NNS] for/IN [more/RBR "
    "sophisticated/JJ filtering/NN] ./SENT",
    // library/functions
    "Also/RB note/VB that/IN ,/COMMA aside/RB from/IN [the/DT zero/CD argument/NN form/NN] ,/COMMA [super/NN] "
    "is/VBZ not/RB limited/VBN to/TO [use/NN] inside/IN [methods/NNS] ./SENT",
    "See/VB [Reading/NNP] and/CC [Writing/NNP Files/NNPS] for/IN [more/JJR examples/NNS] of/IN how/WRB to/TO "
    "use/VB [this/DT function/NN] ./SENT",
    "If/IN [the/DT argument/NN] is/VBZ [any/DT other/JJ kind/NN] of/IN [object/NN] ,/COMMA [a/DT help/NN page/NN] "
    "on/IN [the/DT object/NN] is/VBZ generated/VBN ./SENT",
    "Otherwise/RB ,/COMMA [the/DT return/NN value/NN] has/VBZ [the/DT same/JJ type/NN] as/IN [number/NN] ./SENT",
    "[ValueError/NNP] will/MD be/VB raised/VBN if/IN [i/NN] is/VBZ outside/IN [that/DT range/NN] ./SENT",
    "There/EX are/VBP [two/CD optional/JJ keyword-only/JJ arguments/NNS] ./SENT",
    "[The/DT resulting/VBG list/NN] is/VBZ not/RB necessarily/RB complete/JJ and/CC may/MD be/VB inaccurate/JJ "
    "./SENT",
    "[Python/NNP] offers/VBZ [three/CD different/JJ approaches/NNS] to/TO dealing/VBG with/IN [this/DT issue/NN] "
    ":/COLON",
    "[The/DT arguments/NNS] are/VBP [an/DT object/NN] and/CC [a/DT string/NN] ./SENT",
    "Note/VB that/IN ignoring/VBG [encoding/NN errors/NNS] can/MD lead/VB to/TO [data/NNS loss/NN] ./SENT",
    "[The/DT key/NN argument/NN] specifies/VBZ [a/DT one-argument/JJ ordering/NN function/NN] ./SENT",
    "Return/VB [the/DT absolute/JJ value/NN] of/IN [a/DT number/NN] ./SENT",
    "[The/DT argument/NN] may/MD be/VB [an/DT integer/NN] or/CC [a/DT floating/VBG point/NN number/NN] ./SENT",
    "Return/VB [a/DT string/NN] containing/VBG [a/DT printable/JJ representation/NN] of/IN [an/DT object/NN] "
    "./SENT",
    "[This/DT function/NN] drops/VBZ you/PRP into/IN [the/DT debugger/NN] at/IN [the/DT call/NN site/NN] "
    "./SENT",
    "[Files/NNS] opened/VBN in/IN [binary/JJ mode/NN] return/VBP [contents/NNS] as/IN [bytes/NNS objects/NNS] "
    "without/IN [any/DT decoding/NN] ./SENT",
    // GPL-3
    "[This/DT License/NNP] acknowledges/VBZ [your/PRP$ rights/NNS] of/IN [fair/JJ use/NN] or/CC [other/JJ "
    "equivalent/NN] ,/COMMA as/IN provided/VBN by/IN [copyright/NN law/NN] ./SENT",
    "[Each/DT version/NN] is/VBZ given/VBN [a/DT distinguishing/VBG version/NN number/NN] ./SENT",
    "Therefore/RB ,/COMMA we/PRP have/VBP designed/VBN [this/DT version/NN] of/IN [the/DT GPL/NNP] to/TO "
    "prohibit/VB [the/DT practice/NN] for/IN [those/DT products/NNS] ./SENT",
    "You/PRP may/MD not/RB impose/VB [any/DT further/JJ restrictions/NNS] on/IN [the/DT exercise/NN] of/IN "
    "[the/DT rights/NNS] granted/VBN or/CC affirmed/VBN under/IN [this/DT License/NNP] ./SENT",
    "See/VB [the/DT GNU/NNP General/NNP Public/NNP License/NNP] for/IN [more/JJR details/NNS] ./SENT",
    "If/IN this/DT is/VBZ what/WP you/PRP want/VBP to/TO do/VB ,/COMMA use/VB [the/DT GNU/NNP Lesser/NNP "
    "General/NNP Public/NNP License/NNP] instead/RB of/IN [this/DT License/NNP] ./SENT",
    "You/PRP must/MD make/VB sure/JJ that/IN they/PRP ,/COMMA too/RB ,/COMMA receive/VBP or/CC can/MD get/VB "
    "[the/DT source/NN code/NN] ./SENT",
    "[The/DT GNU/NNP General/NNP Public/NNP License/NNP] is/VBZ [a/DT free/JJ ,/COMMA copyleft/JJ license/NN] "
    "for/IN [software/NN] and/CC [other/JJ kinds/NNS] of/IN [works/NNS] ./SENT",
    "Also/RB add/VB [information/NN] on/IN how/WRB to/TO contact/VB you/PRP by/IN [electronic/JJ and/CC paper/NN "
    "mail/NN] ./SENT",
    "Conveying/VBG under/IN [any/DT other/JJ circumstances/NNS] is/VBZ permitted/VBN solely/RB under/IN [the/DT "
    "conditions/NNS] stated/VBN below/RB ./SENT",
    "[The/DT licenses/NNS] for/IN [most/JJS software/NN] and/CC [other/JJ practical/JJ works/NNS] are/VBP "
    "designed/VBN to/TO take/VB away/RB [your/PRP$ freedom/NN] to/TO share/VB and/CC change/VB [the/DT "
    "works/NNS] ./SENT",
    "[Developers/NNS] that/WDT use/VBP [the/DT GNU/NNP GPL/NNP] protect/VBP [your/PRP$ rights/NNS] with/IN "
    "[two/CD steps/NNS] ./SENT",
    "[Every/DT program/NN] is/VBZ threatened/VBN constantly/RB by/IN [software/NN patents/NNS] ./SENT",
    "[The/DT precise/JJ terms/NNS] and/CC [conditions/NNS] for/IN [copying/NN] ,/COMMA [distribution/NN] and/CC "
    "[modification/NN] follow/VBP ./SENT",
    "[The/DT work/NN] must/MD carry/VB [prominent/JJ notices/NNS] stating/VBG that/IN you/PRP modified/VBD it/PRP "
    "./SENT",
    "[This/DT program/NN] is/VBZ distributed/VBN in/IN [the/DT hope/NN] that/IN it/PRP will/MD be/VB useful/JJ "
    "./SENT",
    "You/PRP should/MD have/VB received/VBN [a/DT copy/NN] of/IN [the/DT GNU/NNP General/NNP Public/NNP "
    "License/NNP] along/IN with/IN [this/DT program/NN] ./SENT",
    "[Corresponding/JJ Source/NNP] conveyed/VBN under/IN [this/DT section/NN] must/MD be/VB in/IN [a/DT format/NN] "
    "that/WDT is/VBZ publicly/RB documented/VBN ./SENT",
    "It/PRP is/VBZ safest/JJS to/TO attach/VB them/PRP to/TO [the/DT start/NN] of/IN [each/DT source/NN "
    "file/NN] ./SENT",
    // library/os, library/pathlib, library/json
    "[This/DT module/NN] provides/VBZ [a/DT portable/JJ way/NN] of/IN using/VBG [operating/NN system/NN "
    "dependent/JJ functionality/NN] ./SENT",
    "[All/DT functions/NNS] in/IN [this/DT module/NN] raise/VBP [OSError/NNP] in/IN [the/DT case/NN] of/IN "
    "[invalid/JJ or/CC inaccessible/JJ file/NN names/NNS] ./SENT",
    "[Path/NN objects/NNS] are/VBP immutable/JJ and/CC hashable/JJ ./SENT",
    "[The/DT json/NN module/NN] exposes/VBZ [an/DT API/NNP] familiar/JJ to/TO [users/NNS] of/IN [the/DT "
    "standard/JJ library/NN] ./SENT",
    "[Keys/NNS] in/IN [key/NN value/NN pairs/NNS] of/IN [JSON/NNP] are/VBP always/RB of/IN [the/DT type/NN str/NN] "
    "./SENT",
    "[Instances/NNS] of/IN [this/DT class/NN] have/VBP [the/DT following/VBG methods/NNS] ./SENT",
    // more of tutorial/classes, os.path, subprocess, modules, logging
    "Having/VBG seen/VBN [the/DT mechanics/NNS] behind/IN [the/DT iterator/NN protocol/NN] ,/COMMA it/PRP is/VBZ "
    "easy/JJ to/TO add/VB [iterator/NN behavior/NN] to/TO [your/PRP$ classes/NNS] ./SENT",
    "In/IN [combination/NN] ,/COMMA [these/DT features/NNS] make/VBP it/PRP easy/JJ to/TO create/VB "
    "[iterators/NNS] with/IN [no/DT more/JJR effort/NN] than/IN writing/VBG [a/DT regular/JJ function/NN] ./SENT",
    "That/DT is/VBZ ,/COMMA [the/DT result/NN] will/MD only/RB end/VB in/IN [a/DT separator/NN] if/IN [the/DT "
    "last/JJ part/NN] is/VBZ either/CC empty/JJ or/CC ends/VBZ in/IN [a/DT separator/NN] ./SENT",
    "If/IN [returncode/NN] is/VBZ non-zero/JJ ,/COMMA raise/VB [a/DT CalledProcessError/NNP] ./SENT",
    "Changed/VBN in/IN [version/NN 3.7/CD] :/COLON Added/VBD [the/DT text/NN parameter/NN] ,/COMMA as/IN [a/DT "
    "more/RBR understandable/JJ alias/NN] of/IN [universal_newlines/NNS] ./SENT",
    "It/PRP is/VBZ customary/JJ but/CC not/RB required/VBN to/TO place/VB [all/DT import/NN statements/NNS] at/IN "
    "[the/DT beginning/NN] of/IN [a/DT module/NN] ./SENT",
    "Using/VBG [the/DT module/NN name/NN] you/PRP can/MD access/VB [the/DT functions/NNS] :/COLON",
    "This/DT is/VBZ set/VBN when/WRB [Formatter.format/NN] is/VBZ invoked/VBN ./SENT",
    "If/IN not/RB specified/VBN ,/COMMA [the/DT default/NN formatter/NN] is/VBZ used/VBN as/IN [the/DT line/NN "
    "formatter/NN] ./SENT",
    "Does/VBZ [basic/JJ configuration/NN] for/IN [the/DT logging/NN system/NN] by/IN creating/VBG [a/DT "
    "StreamHandler/NNP] with/IN [a/DT default/NN Formatter/NNP] and/CC adding/VBG it/PRP to/TO [the/DT root/NN "
    "logger/NN] ./SENT",
    "[The/DT compiled/VBN modules/NNS] are/VBP platform-independent/JJ ./SENT",
    "[Python/NNP] comes/VBZ with/IN [a/DT library/NN] of/IN [standard/JJ modules/NNS] ./SENT",
    "[Some/DT modules/NNS] are/VBP built/VBN into/IN [the/DT interpreter/NN] ./SENT",
    "[The/DT output/NN] of/IN [the/DT child/NN process/NN] is/VBZ captured/VBN and/CC returned/VBN ./SENT",
    "[The/DT module/NN] will/MD be/VB imported/VBN only/RB once/RB per/IN [interpreter/NN session/NN] ./SENT",
};

}  // namespace vorlane::zop_test
