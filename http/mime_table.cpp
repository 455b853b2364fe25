#include "http/mime_table.h"

#include <string>
#include <unordered_map>

namespace velmar {
namespace {

// Extensions sent as "application/x-" followed by the extension itself
// (the empty extension included).
constexpr const char* kPrefixed[] = {
    "",    "001", "301", "906", "a11", "anv", "bmp", "bot", "c4t", "c90",   "cdr", "cel", "cgm",
    "cit", "cmp", "cmx", "cot", "csi", "cut", "dbf", "dbm", "dbx", "dcx",   "dgn", "dib", "drw",
    "dwf", "dwg", "dxb", "dxf", "emf", "epi", "frm", "g4",  "gbr", "gl2",   "gp4", "hgl", "hmr",
    "hpl", "hrf", "icb", "ico", "iff", "igs", "img", "jpe", "jpg", "latex", "lbm", "ltr", "mac",
    "mdb", "mi",  "mil", "nrf", "out", "pc5", "pci", "pcl", "pcx", "pgl",   "pic", "plt", "png",
    "ppm", "ppt", "pr",  "prn", "prt", "ptn", "ras", "red", "rgb", "rlc",   "rle", "rtf", "sam",
    "sat", "sdw", "slb", "sld", "smk", "sty", "tdf", "tg4", "tga", "tif",   "vda", "vsd", "vst",
    "wb1", "wb2", "wb3", "wk3", "wk4", "wkq", "wks", "wmf", "wp6", "wpd",   "wpg", "wq1", "wr1",
    "wri", "wrk", "ws",  "xls", "xlw", "xwd", "x_b", "x_t",
};

struct Group {
  const char* type;
  const char* extensions;  // separated by single spaces
};

constexpr Group kGroups[] = {
    {"application/octet-stream", "*"},
    {"text/h323", "323"},
    {"drawing/907", "907"},
    {"audio/x-mei-aac", "acp"},
    {"application/postscript", "ai eps ps"},
    {"audio/aiff", "aif aifc aiff"},
    {"text/asa", "asa"},
    {"video/x-ms-asf", "asf asx"},
    {"text/asp", "asp"},
    {"audio/basic", "au snd"},
    {"video/avi", "avi"},
    {"application/vnd.adobe.workflow", "awf"},
    {"text/xml",
     "biz cml dcd dtd ent fo math mml mtx rdf spp svg tld tsd vml vxml wsdl xdr xml xq xql "
     "xquery xsd xsl xslt"},
    {"application/x-cals", "cal"},
    {"application/vnd.ms-pki.seccat", "cat"},
    {"application/x-netcdf", "cdf"},
    {"application/x-x509-ca-cert", "cer crt der"},
    {"application/x-g4", "cg4 ig4"},
    {"java/*", "class java"},
    {"application/pkix-crl", "crl"},
    {"text/css", "css"},
    {"application/x-msdownload", "dll exe"},
    {"application/msword", "doc dot wiz"},
    {"application/vnd.adobe.edn", "edn"},
    {"message/rfc822", "eml mht mhtml nws"},
    {"application/x-ebx", "etd"},
    {"image/fax", "fax"},
    {"application/vnd.fdf", "fdf"},
    {"application/fractals", "fif"},
    {"image/gif", "gif"},
    {"application/x-hpgl", "hpg"},
    {"application/mac-binhex40", "hqx"},
    {"application/hta", "hta"},
    {"text/x-component", "htc"},
    {"text/html", "htm html htx jsp plg stm xhtml"},
    {"text/webviewhtml", "htt"},
    {"application/x-iphone", "iii"},
    {"application/x-internet-signup", "ins isp"},
    {"image/jpeg", "jfif jpeg"},
    {"application/x-javascript", "js ls mocha"},
    {"audio/x-liquid-file", "la1"},
    {"application/x-laplayer-reg", "lar"},
    {"audio/x-liquid-secure", "lavs"},
    {"audio/x-la-lms", "lmsff"},
    {"video/x-mpeg", "m1v m2v mpe mps"},
    {"audio/mpegurl", "m3u"},
    {"video/mpeg4", "m4e mp4"},
    {"application/x-troff-man", "man"},
    {"application/x-shockwave-flash", "mfp swf"},
    {"audio/mid", "mid midi rmi"},
    {"audio/x-musicnet-download", "mnd"},
    {"audio/x-musicnet-stream", "mns"},
    {"video/x-sgi-movie", "movie"},
    {"audio/mp1", "mp1"},
    {"audio/mp2", "mp2"},
    {"video/mpeg", "mp2v mpv2"},
    {"audio/mp3", "mp3"},
    {"video/x-mpg", "mpa"},
    {"application/vnd.ms-project", "mpd mpp mpt mpw mpx"},
    {"video/mpg", "mpeg mpg mpv"},
    {"audio/rn-mpeg", "mpga"},
    {"application/x-mmxp", "mxp"},
    {"image/pnetvue", "net"},
    {"text/x-ms-odc", "odc"},
    {"application/pkcs10", "p10"},
    {"application/x-pkcs12", "p12 pfx"},
    {"application/x-pkcs7-certificates", "p7b spc"},
    {"application/pkcs7-mime", "p7c p7m"},
    {"application/x-pkcs7-certreqresp", "p7r"},
    {"application/pkcs7-signature", "p7s"},
    {"application/pdf", "pdf"},
    {"application/vnd.adobe.pdx", "pdx"},
    {"application/vnd.ms-pki.pko", "pko"},
    {"application/x-perl", "pl"},
    {"audio/scpls", "pls xpl"},
    {"application/vnd.ms-powerpoint", "pot ppa pps pwz"},
    {"application/pics-rules", "prf"},
    {"text/vnd.rn-realtext3d", "r3t"},
    {"audio/vnd.rn-realaudio", "ra"},
    {"audio/x-pn-realaudio", "ram rmm"},
    {"application/rat-file", "rat"},
    {"application/vnd.rn-recording", "rec"},
    {"application/vnd.rn-realsystem-rjs", "rjs"},
    {"application/vnd.rn-realsystem-rjt", "rjt"},
    {"application/vnd.rn-realmedia", "rm"},
    {"application/vnd.adobe.rmf", "rmf"},
    {"application/vnd.rn-realsystem-rmj", "rmj"},
    {"application/vnd.rn-rn_music_package", "rmp"},
    {"application/vnd.rn-realmedia-secure", "rms"},
    {"application/vnd.rn-realmedia-vbr", "rmvb"},
    {"application/vnd.rn-realsystem-rmx", "rmx"},
    {"application/vnd.rn-realplayer", "rnx"},
    {"image/vnd.rn-realpix", "rp"},
    {"audio/x-pn-realaudio-plugin", "rpm"},
    {"application/vnd.rn-rsml", "rsml"},
    {"text/vnd.rn-realtext", "rt"},
    {"video/vnd.rn-realvideo", "rv"},
    {"application/sdp", "sdp"},
    {"application/x-stuffit", "sit"},
    {"drawing/x-slk", "slk"},
    {"application/smil", "smi smil"},
    {"text/plain", "sol sor txt"},
    {"application/futuresplash", "spl"},
    {"application/streamingmedia", "ssm"},
    {"application/vnd.ms-pki.certstore", "sst"},
    {"application/vnd.ms-pki.stl", "stl"},
    {"image/tiff", "tiff"},
    {"drawing/x-top", "top"},
    {"application/x-bittorrent", "torrent"},
    {"application/x-icq", "uin"},
    {"text/iuls", "uls"},
    {"text/x-vcard", "vcf"},
    {"application/vnd.visio", "vdx vss vsw vsx vtx"},
    {"application/x-vpeg005", "vpg"},
    {"audio/wav", "wav"},
    {"audio/x-ms-wax", "wax"},
    {"image/vnd.wap.wbmp", "wbmp"},
    {"video/x-ms-wm", "wm"},
    {"audio/x-ms-wma", "wma"},
    {"application/x-ms-wmd", "wmd"},
    {"text/vnd.wap.wml", "wml"},
    {"video/x-ms-wmv", "wmv"},
    {"video/x-ms-wmx", "wmx"},
    {"application/x-ms-wmz", "wmz"},
    {"application/vnd.ms-wpl", "wpl"},
    {"application/x-ws", "ws2"},
    {"text/scriptlet", "wsc"},
    {"video/x-ms-wvx", "wvx"},
    {"application/vnd.adobe.xdp", "xdp"},
    {"application/vnd.adobe.xfd", "xfd"},
    {"application/vnd.adobe.xfdf", "xfdf"},
};

using Table = std::unordered_map<std::string, std::string>;

Table BuildTable() {
  Table table;
  for (const char* ext : kPrefixed) table.emplace(ext, std::string("application/x-") + ext);
  for (const Group& group : kGroups) {
    std::string_view list = group.extensions;
    while (!list.empty()) {
      const std::size_t space = list.find(' ');
      table.emplace(std::string(list.substr(0, space)), group.type);
      if (space == std::string_view::npos) break;
      list.remove_prefix(space + 1);
    }
  }
  return table;
}

const Table& TheTable() {
  static const Table table = BuildTable();
  return table;
}

}  // namespace

const std::string& MimeTable::Lookup(std::string_view extension) {
  const Table& table = TheTable();
  const auto it = table.find(std::string(extension));
  return it != table.end() ? it->second : table.at("*");
}

std::size_t MimeTable::Size() {
  return TheTable().size();
}

}  // namespace velmar
