#!/usr/bin/env python3
"""Write a sample schedule package: a Zip archive of one week of listings per channel.

The archive looks like the ones the broadcaster's server hands out to Chinese Windows
machines: four class folders, one listing file per channel, most files in GBK without a
byte-order mark, a few in UTF-8 or UTF-16LE with a mark, CR LF line ends for the most part,
and entry names stored as GBK bytes without the Zip UTF-8 flag (general-purpose bit 11).
Python's zipfile would flag every non-ASCII name as UTF-8, so the archive is written here
byte by byte.

The output depends only on the first listing date (default: today), so two runs on the
same day give identical bytes.

    make_package.py OUT.zip [--date YYYY-MM-DD] [--days N] [--unpacked DIR]
"""

from __future__ import annotations

import argparse
import datetime as dt
import os
import random
import struct
import sys
import zlib
from dataclasses import dataclass
from pathlib import Path

CLASS_FOLDERS = ("央视频道", "地方频道", "数字频道", "境外频道")
WEEKDAYS = ("星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "星期日")

GBK = "gbk"
UTF8_BOM = "utf-8-bom"
UTF16LE_BOM = "utf-16le-bom"
ENCODINGS = (GBK, UTF8_BOM, UTF16LE_BOM)

CRLF, LF, CR = "\r\n", "\n", "\r"

# Fixed so that the package is reproducible; mixed with each channel's file name.
SEED = 20111916


# --------------------------------------------------------------------------------------
# Programme material per kind of channel
# --------------------------------------------------------------------------------------

@dataclass(frozen=True)
class Slot:
    """A programme fixed to a time of day. `days` limits it to some weekdays (0 = Monday)."""
    time: str
    title: str
    minutes: int
    days: tuple[int, ...] = tuple(range(7))


@dataclass(frozen=True)
class Filler:
    """A programme that may fill a gap between fixed slots."""
    title: str
    minutes: tuple[int, ...] = (20, 25, 30)


@dataclass(frozen=True)
class Kind:
    start: str
    slots: tuple[Slot, ...]
    fillers: tuple[Filler, ...]
    # Used when no filler fits a short gap.
    short: str = "精彩节目预告"


# Titles in a filler or slot may name a running series with {drama}, {cartoon}, {film},
# {opera} or {match}; the generator fills in a title of the channel's lists and counts
# episodes across the week.
DRAMAS = ("山海情长", "大江东去", "小巷人家", "青春之路", "家和万事兴", "守望者", "风雨同舟",
          "归途", "春暖花开", "乡村医生", "铁血雄关", "明月几时有", "海棠依旧", "长河落日")
CARTOONS = ("熊猫和小伙伴", "森林运动会", "小鲤鱼历险记", "机灵小兔", "太空小队", "神笔马良",
            "大头儿子和小头爸爸", "葫芦兄弟", "黑猫警长", "海底小精灵")
FILMS = ("城南旧事", "地道战", "英雄儿女", "小兵张嘎", "闪闪的红星", "五朵金花", "冰山上的来客",
         "庐山恋", "少林寺", "红色娘子军", "铁道游击队", "林海雪原", "老井", "焦裕禄", "秋菊打官司",
         "甲方乙方", "不见不散", "大决战", "开国大典", "霸王别姬")
OPERAS = ("京剧：四郎探母", "京剧：贵妃醉酒", "京剧：空城计", "越剧：梁山伯与祝英台", "越剧：红楼梦",
          "黄梅戏：天仙配", "黄梅戏：女驸马", "豫剧：花木兰", "评剧：刘巧儿", "昆曲：牡丹亭",
          "川剧：白蛇传", "秦腔：三滴血", "粤剧：帝女花", "沪剧：罗汉钱")
MATCHES = ("中超联赛：北京－上海", "中超联赛：广州－山东", "CBA联赛：广东－辽宁", "CBA联赛：北京－新疆",
           "英超联赛：曼联－切尔西", "西甲联赛：皇马－巴萨", "NBA常规赛：湖人－凯尔特人",
           "乒乓球世界杯男单决赛", "羽毛球公开赛女单半决赛", "女排联赛：天津－上海", "斯诺克大师赛")

WEEKEND = (5, 6)
WEEKDAYS_ONLY = (0, 1, 2, 3, 4)

KINDS: dict[str, Kind] = {
    "general": Kind(
        start="06:00",
        slots=(
            Slot("06:00", "朝闻天下", 180), Slot("09:00", "电视剧：{drama}", 50),
            Slot("09:50", "电视剧：{drama}", 50), Slot("12:00", "新闻30分", 35),
            Slot("12:35", "今日说法", 30), Slot("13:10", "电视剧：{drama}", 50),
            Slot("19:00", "新闻联播", 31), Slot("19:31", "天气预报", 7), Slot("19:38", "焦点访谈", 17),
            Slot("19:55", "黄金档剧场：{drama}", 50), Slot("20:45", "黄金档剧场：{drama}", 50),
            Slot("22:00", "晚间新闻", 30), Slot("22:30", "星光大道", 100, WEEKEND),
        ),
        fillers=(
            Filler("动物世界"), Filler("人与自然"), Filler("生活提示", (10, 15)), Filler("新闻"),
            Filler("等着我", (60,)), Filler("开讲啦", (45,)), Filler("电视剧：{drama}", (45, 50)),
            Filler("挑战不可能", (60,)),
        ),
    ),
    "finance": Kind(
        start="06:00",
        slots=(
            Slot("06:00", "第一时间", 150), Slot("09:00", "交易时间", 150), Slot("12:00", "正点财经", 60),
            Slot("21:30", "经济信息联播", 60), Slot("20:30", "经济半小时", 30, WEEKDAYS_ONLY),
            Slot("22:30", "对话", 60, WEEKEND),
        ),
        fillers=(
            Filler("生财有道"), Filler("是真的吗"), Filler("购物街", (45, 60)), Filler("消费主张"),
            Filler("回家吃饭"), Filler("职场健康课"), Filler("创业英雄汇", (60,)), Filler("财经评论"),
        ),
    ),
    "variety": Kind(
        start="06:00",
        slots=(
            Slot("19:30", "开门大吉", 90), Slot("21:00", "星光大道", 100, WEEKEND),
            Slot("21:00", "综艺喜乐汇", 60, WEEKDAYS_ONLY),
        ),
        fillers=(
            Filler("综艺喜乐汇", (45, 60)), Filler("越战越勇", (60,)), Filler("向幸福出发", (60,)),
            Filler("曲苑杂坛"), Filler("回声嘹亮", (60,)), Filler("黄金100秒", (60,)),
            Filler("我要上春晚", (60,)), Filler("综艺盛典", (90,)), Filler("舞蹈世界"),
        ),
    ),
    "international": Kind(
        start="06:00",
        slots=(
            Slot("07:00", "中国新闻", 30), Slot("12:00", "中国新闻", 60), Slot("18:00", "中国新闻", 30),
            Slot("20:30", "今日关注", 30), Slot("21:00", "中国新闻", 30), Slot("21:30", "今日亚洲", 30),
            Slot("22:00", "海峡两岸", 30),
        ),
        fillers=(
            Filler("中华医药", (45,)), Filler("走遍中国"), Filler("国宝档案", (15,)),
            Filler("远方的家", (45,)), Filler("华人世界"), Filler("中国文艺", (45,)), Filler("快乐汉语"),
            Filler("电视剧：{drama}", (45,)), Filler("记住乡愁", (30,)),
        ),
    ),
    "sports": Kind(
        start="06:00",
        slots=(
            Slot("06:00", "体育晨报", 30), Slot("12:00", "体育新闻", 30), Slot("18:00", "体育新闻", 30),
            Slot("19:30", "{match}", 120), Slot("22:30", "天下足球", 90, (0,)),
            Slot("22:30", "篮球公园", 60, (3,)), Slot("15:00", "{match}", 120, WEEKEND),
        ),
        fillers=(
            Filler("健身动起来", (15, 20)), Filler("体育世界"), Filler("体坛快讯", (10, 15)),
            Filler("赛事重播：{match}", (110, 120)), Filler("棋牌乐", (30,)), Filler("足球之夜", (60,)),
            Filler("运动休闲", (30,)),
        ),
    ),
    "movies": Kind(
        start="06:00",
        slots=(
            Slot("10:10", "故事片：{film}", 100), Slot("14:00", "故事片：{film}", 100),
            Slot("20:15", "故事片：{film}", 105),
        ),
        fillers=(
            Filler("故事片：{film}", (95, 100, 110)), Filler("中国电影报道"), Filler("流金岁月", (45,)),
            Filler("爱电影", (15,)), Filler("光影星播客", (15,)),
        ),
        short="电影预告",
    ),
    "military_farming": Kind(
        start="06:00",
        slots=(
            Slot("06:00", "军事报道", 30), Slot("12:00", "致富经", 30), Slot("18:00", "每日农经", 20),
            Slot("19:00", "军事报道", 30), Slot("21:00", "军旅人生", 45),
        ),
        fillers=(
            Filler("科技苑"), Filler("乡村大世界", (60,)), Filler("美丽中国乡村行"), Filler("谁知盘中餐"),
            Filler("军事科技", (30,)), Filler("兵器面面观", (30,)), Filler("老兵你好", (45,)),
            Filler("聚焦三农"),
        ),
    ),
    "drama": Kind(
        start="06:00",
        slots=(
            Slot("09:30", "电视剧：{drama}", 45), Slot("19:30", "黄金强档：{drama}", 45),
            Slot("20:15", "黄金强档：{drama}", 45), Slot("21:00", "黄金强档：{drama}", 45),
        ),
        fillers=(
            Filler("电视剧：{drama}", (45,)), Filler("第一剧场", (45,)), Filler("剧说很好看", (15,)),
        ),
        short="剧集预告",
    ),
    "documentary": Kind(
        start="06:00",
        slots=(
            Slot("20:00", "特别呈现", 60), Slot("21:00", "自然传奇", 45),
        ),
        fillers=(
            Filler("纪录片：大国工匠", (45,)), Filler("纪录片：舌尖上的中国", (50,)),
            Filler("纪录片：航拍中国", (50,)), Filler("纪录片：故宫", (45,)),
            Filler("纪录片：美丽中国", (50,)), Filler("纪录片：河西走廊", (45,)),
            Filler("纪录片：长江", (50,)), Filler("世界地理", (30,)),
        ),
        short="纪录片预告",
    ),
    "documentary_en": Kind(
        start="06:00",
        slots=(
            Slot("20:00", "Documentary Special", 60),
        ),
        fillers=(
            Filler("Wild China", (50,)), Filler("Aerial China", (50,)), Filler("The Forbidden City", (45,)),
            Filler("A Bite of China", (50,)), Filler("Silk Road", (45,)), Filler("Yangtze River", (50,)),
        ),
        short="Coming Up",
    ),
    "science": Kind(
        start="06:00",
        slots=(
            Slot("12:45", "百家讲坛", 45), Slot("18:00", "探索·发现", 45), Slot("21:20", "走近科学", 30),
            Slot("22:00", "人物", 30),
        ),
        fillers=(
            Filler("健康之路", (60,)), Filler("讲述", (30,)), Filler("地理·中国", (30,)),
            Filler("文明之旅", (45,)), Filler("自然传奇", (45,)), Filler("创新无限"),
            Filler("跟我学", (15,)),
        ),
    ),
    "opera": Kind(
        start="06:00",
        slots=(
            Slot("09:00", "名段欣赏", 30), Slot("12:00", "空中剧院：{opera}", 150),
            Slot("19:30", "CCTV空中剧院：{opera}", 150), Slot("18:00", "梨园闯关我挂帅", 60, WEEKEND),
        ),
        fillers=(
            Filler("{opera}", (90, 120)), Filler("戏曲采风", (30,)), Filler("九州大戏台", (60,)),
            Filler("跟我学", (15,)), Filler("角儿来了", (60,)), Filler("一鸣惊人", (45,)),
            Filler("名段欣赏", (30,)),
        ),
        short="戏曲预告",
    ),
    "law": Kind(
        start="06:00",
        slots=(
            Slot("12:30", "今日说法", 30), Slot("19:00", "法治在线", 30), Slot("20:00", "天网", 40),
            Slot("21:00", "道德观察", 30),
        ),
        fillers=(
            Filler("一线", (30,)), Filler("忏悔录", (30,)), Filler("夜线", (30,)),
            Filler("方圆剧阵", (45,)), Filler("热线12", (30,)), Filler("普法栏目剧", (45,)),
            Filler("法律讲堂", (30,)),
        ),
    ),
    "news": Kind(
        start="00:00",
        slots=(
            Slot("06:00", "朝闻天下", 180), Slot("12:00", "新闻30分", 30), Slot("19:00", "新闻联播", 30),
            Slot("21:30", "新闻1+1", 30), Slot("22:00", "国际时讯", 30),
            Slot("22:30", "新闻周刊", 45, (6,)),
        ),
        fillers=(
            Filler("新闻直播间", (60,)), Filler("共同关注", (60,)), Filler("24小时", (60,)),
            Filler("东方时空", (60,)), Filler("新闻", (30,)), Filler("环球视线", (30,)),
            Filler("世界周刊", (45,)),
        ),
        short="整点新闻",
    ),
    "children": Kind(
        start="06:00",
        slots=(
            Slot("07:00", "智慧树", 30), Slot("08:00", "小小智慧树", 30), Slot("17:00", "动画城", 60),
            Slot("18:00", "大风车", 30), Slot("19:00", "动画片：{cartoon}", 60),
            Slot("20:30", "银河剧场", 90),
        ),
        fillers=(
            Filler("动画片：{cartoon}", (15, 20, 25)), Filler("七巧板", (15,)), Filler("快乐大巴", (30,)),
            Filler("英雄出少年", (30,)), Filler("异想天开", (30,)), Filler("新闻袋袋裤", (15,)),
            Filler("芝麻开门", (20,)),
        ),
        short="少儿节目预告",
    ),
    "music": Kind(
        start="06:00",
        slots=(
            Slot("19:30", "精彩音乐汇", 60), Slot("21:00", "音乐人生", 60),
            Slot("20:30", "民歌·中国", 30, WEEKEND),
        ),
        fillers=(
            Filler("中国音乐电视", (30,)), Filler("影视留声机", (30,)), Filler("经典", (45,)),
            Filler("音乐公开课", (45,)), Filler("乐游天下", (30,)), Filler("童趣", (15,)),
            Filler("风华国乐", (30,)), Filler("合唱先锋", (30,)),
        ),
    ),
    "province": Kind(
        start="06:00",
        slots=(
            Slot("07:00", "{region}早间新闻", 30), Slot("12:00", "{region}午间新闻", 30),
            Slot("18:30", "{region}新闻联播", 30), Slot("19:00", "新闻联播", 30),
            Slot("19:35", "黄金剧场：{drama}", 45), Slot("20:20", "黄金剧场：{drama}", 45),
            Slot("21:20", "{show}", 90, (4, 5)),
        ),
        fillers=(
            Filler("电视剧：{drama}", (45,)), Filler("{region}新闻", (30,)), Filler("天气预报", (10,)),
            Filler("健康养生堂", (45,)), Filler("老家的味道", (30,)), Filler("走进{region}", (30,)),
            Filler("生活帮", (30,)), Filler("{show}", (90,)),
        ),
    ),
    "foreign_chinese": Kind(
        start="06:00",
        slots=(
            Slot("07:00", "凤凰早班车", 120), Slot("12:00", "凤凰午间特快", 30),
            Slot("19:00", "时事直通车", 60), Slot("21:00", "锵锵三人行", 30, WEEKDAYS_ONLY),
            Slot("21:30", "鲁豫有约", 45),
        ),
        fillers=(
            Filler("凤凰大视野", (45,)), Filler("一虎一席谈", (60,)), Filler("文涛拍案", (30,)),
            Filler("冷暖人生", (30,)), Filler("世纪大讲堂", (45,)), Filler("皇牌大放送", (45,)),
            Filler("电视剧：{drama}", (45,)),
        ),
        short="节目预告",
    ),
    "foreign_news": Kind(
        start="00:00",
        slots=(
            Slot("06:00", "凤凰早班车", 120), Slot("18:00", "华闻大直播", 60),
            Slot("22:00", "新闻今日谈", 30),
        ),
        fillers=(
            Filler("整点新闻", (30,)), Filler("财经正点", (30,)), Filler("总编辑时间", (30,)),
            Filler("新闻今日谈", (30,)), Filler("环球人物周刊", (30,)), Filler("凤凰观天下", (30,)),
        ),
        short="新闻快讯",
    ),
    "foreign_variety": Kind(
        start="06:00",
        slots=(
            Slot("19:30", "翡翠剧场：{drama}", 60), Slot("20:30", "翡翠剧场：{drama}", 60),
            Slot("23:30", "晚间新闻", 30),
        ),
        fillers=(
            Filler("电视剧：{drama}", (60,)), Filler("东张西望", (30,)), Filler("综艺节目", (60,)),
            Filler("午间新闻", (30,)), Filler("美食节目", (30,)), Filler("故事片：{film}", (100,)),
        ),
    ),
    "english_news": Kind(
        start="00:00",
        slots=(
            Slot("06:00", "News Hour", 60), Slot("12:00", "News Hour", 60), Slot("19:00", "Asia Today", 30),
            Slot("20:30", "Dialogue", 30),
        ),
        fillers=(
            Filler("News Update", (15, 30)), Filler("Biz Asia", (30,)), Filler("Culture Express", (30,)),
            Filler("Travelogue", (30,)), Filler("Sports Scene", (30,)), Filler("Crossover", (30,)),
        ),
        short="News Update",
    ),
    "language": Kind(
        start="06:00",
        slots=(
            Slot("07:00", "新闻", 30), Slot("12:00", "新闻", 30), Slot("19:00", "新闻", 30),
        ),
        fillers=(
            Filler("学汉语", (15,)), Filler("中国厨艺", (30,)), Filler("纪录片", (45,)),
            Filler("电视剧：{drama}", (45,)), Filler("旅游节目", (30,)), Filler("中国文化", (30,)),
            Filler("访谈节目", (30,)),
        ),
        short="节目预告",
    ),
    "football": Kind(
        start="06:00",
        slots=(
            Slot("20:00", "{match}", 120),
        ),
        fillers=(
            Filler("足球经典赛事重播", (110,)), Filler("足球新闻", (30,)), Filler("英超精选", (60,)),
            Filler("意甲集锦", (30,)), Filler("天下足球", (60,)), Filler("赛事重播：{match}", (110,)),
        ),
        short="赛事预告",
    ),
    "theatre": Kind(
        start="06:00",
        slots=(
            Slot("19:30", "黄金剧场：{drama}", 45), Slot("20:15", "黄金剧场：{drama}", 45),
        ),
        fillers=(
            Filler("电视剧：{drama}", (45,)), Filler("故事片：{film}", (100,)), Filler("老电影", (95,)),
        ),
        short="剧场预告",
    ),
}


@dataclass(frozen=True)
class Channel:
    folder: str
    file_name: str
    title: str
    kind: str
    encoding: str = GBK
    newline: str = CRLF
    region: str = ""
    show: str = ""

    @property
    def entry_name(self) -> str:
        return f"{self.folder}/{self.file_name}"


def _province(file_name: str, title: str, region: str, show: str, **kw) -> Channel:
    return Channel("地方频道", file_name, title, "province", region=region, show=show, **kw)


CHANNELS: tuple[Channel, ...] = (
    Channel("央视频道", "01.txt", "ZORQ-1 综合频道", "general"),
    Channel("央视频道", "02.txt", "ZORQ-2 财经频道", "finance", UTF8_BOM),
    Channel("央视频道", "03.txt", "ZORQ-3 综艺频道", "variety"),
    Channel("央视频道", "04.txt", "ZORQ-4 中文国际频道", "international"),
    Channel("央视频道", "04(亚洲).txt", "ZORQ-4 中文国际频道（亚洲）", "international"),
    Channel("央视频道", "04(欧洲).txt", "ZORQ-4 中文国际频道（欧洲）", "international", UTF16LE_BOM),
    Channel("央视频道", "04(美洲).txt", "ZORQ-4 中文国际频道（美洲）", "international"),
    Channel("央视频道", "05.txt", "ZORQ-5 体育频道", "sports"),
    Channel("央视频道", "06.txt", "ZORQ-6 电影频道", "movies", newline=LF),
    Channel("央视频道", "07.txt", "ZORQ-7 军事农业频道", "military_farming"),
    Channel("央视频道", "08.txt", "ZORQ-8 电视剧频道", "drama", UTF16LE_BOM),
    Channel("央视频道", "09.txt", "ZORQ-9 纪录频道", "documentary"),
    Channel("央视频道", "09(英).txt", "ZORQ-9 纪录频道（英语）", "documentary_en"),
    Channel("央视频道", "10.txt", "ZORQ-10 科教频道", "science"),
    Channel("央视频道", "11.txt", "ZORQ-11 戏曲频道", "opera"),
    Channel("央视频道", "12.txt", "ZORQ-12 社会与法频道", "law", UTF8_BOM),
    Channel("央视频道", "13.txt", "ZORQ-13 新闻频道", "news"),
    Channel("央视频道", "14.txt", "ZORQ-14 少儿频道", "children"),
    Channel("央视频道", "15.txt", "ZORQ-15 音乐频道", "music", newline=CR),

    _province("anhui安徽卫视.txt", "安徽卫视", "安徽", "超级演说家"),
    _province("hunan湖南卫视.txt", "湖南卫视", "湖南", "快乐大本营", encoding=UTF8_BOM),
    _province("jiangsu江苏卫视.txt", "江苏卫视", "江苏", "非诚勿扰"),
    _province("zhejiang浙江卫视.txt", "浙江卫视", "浙江", "王牌对王牌"),
    _province("dongfang东方卫视.txt", "东方卫视", "上海", "极限挑战", encoding=UTF16LE_BOM),
    _province("北京卫视.txt", "北京卫视", "北京", "养生堂"),
    _province("shandong山东卫视.txt", "山东卫视", "山东", "我是先生"),
    _province("guangdong广东卫视.txt", "广东卫视", "广东", "财经郎眼", newline=LF),
    _province("sichuan四川卫视.txt", "四川卫视", "四川", "咱们穿越吧"),
    _province("hubei湖北卫视.txt", "湖北卫视", "湖北", "我为喜剧狂"),
    _province("henan河南卫视.txt", "河南卫视", "河南", "梨园春"),
    _province("liaoning辽宁卫视.txt", "辽宁卫视", "辽宁", "欢乐饭米粒儿"),
    _province("heilongjiang黑龙江卫视.txt", "黑龙江卫视", "黑龙江", "本山快乐营"),
    _province("chongqing重庆卫视.txt", "重庆卫视", "重庆", "品质生活"),
    _province("tianjinweishi天津卫视.txt", "天津卫视", "天津", "爱情保卫战"),
    _province("shanxitai山西卫视.txt", "山西卫视", "山西", "人说山西好风光"),
    _province("shanxi陕西卫视.txt", "陕西卫视", "陕西", "华夏文明"),
    _province("yunnan云南卫视.txt", "云南卫视", "云南", "自然密码"),
    _province("xiamen厦门卫视.txt", "厦门卫视", "厦门", "两岸新新闻"),
    _province("jiaoyu中国教育电视台.txt", "中国教育电视台", "教育", "师说"),

    Channel("数字频道", "高清.txt", "ZORQ-高清频道", "general"),
    Channel("数字频道", "风云足球.txt", "风云足球", "football"),
    Channel("数字频道", "第一剧场.txt", "第一剧场", "theatre", UTF8_BOM),
    Channel("数字频道", "怀旧剧场.txt", "怀旧剧场", "theatre"),
    Channel("数字频道", "世界地理.txt", "世界地理", "documentary"),
    Channel("数字频道", "国防军事.txt", "国防军事", "military_farming"),

    Channel("境外频道", "news.txt", "ZORQ-NEWS 英语新闻频道", "english_news"),
    Channel("境外频道", "俄语.txt", "ZORQ-俄语频道", "language", UTF16LE_BOM),
    Channel("境外频道", "法语.txt", "ZORQ-法语频道", "language"),
    Channel("境外频道", "西语.txt", "ZORQ-西班牙语频道", "language"),
    Channel("境外频道", "阿语.txt", "ZORQ-阿拉伯语频道", "language"),
    Channel("境外频道", "凤凰卫视中文台.txt", "凤凰卫视中文台", "foreign_chinese"),
    Channel("境外频道", "凤凰卫视资讯台.txt", "凤凰卫视资讯台", "foreign_news", UTF8_BOM),
    Channel("境外频道", "翡翠台.txt", "翡翠台", "foreign_variety"),
)


# --------------------------------------------------------------------------------------
# Listing text
# --------------------------------------------------------------------------------------

def minute_of_day(hhmm: str) -> int:
    hours, minutes = hhmm.split(":")
    return int(hours) * 60 + int(minutes)


def _hhmm(minutes: int) -> str:
    return f"{minutes // 60:02d}:{minutes % 60:02d}"


class _SeriesPicker:
    """Keeps a channel's series running across the week, episode after episode."""

    def __init__(self, rng: random.Random, channel: Channel):
        self._rng = rng
        self._channel = channel
        self._dramas = rng.sample(DRAMAS, 3)
        self._cartoons = rng.sample(CARTOONS, 4)
        self._episodes: dict[str, int] = {}
        self._films = list(FILMS)
        rng.shuffle(self._films)

    def _episode(self, title: str) -> str:
        # Series are mid-run: the first episode of the week is not episode 1.
        if title not in self._episodes:
            self._episodes[title] = self._rng.randint(0, 20)
        self._episodes[title] += 1
        return f"{title}({self._episodes[title]})"

    def expand(self, pattern: str, minute: int) -> str:
        # The evening drama is the channel's main series; the daytime slots rerun others.
        text = pattern
        if "{drama}" in text:
            drama = self._dramas[0] if minute >= 19 * 60 else self._rng.choice(self._dramas[1:])
            text = text.replace("{drama}", self._episode(drama))
        if "{cartoon}" in text:
            text = text.replace("{cartoon}", self._episode(self._rng.choice(self._cartoons)))
        if "{film}" in text:
            text = text.replace("{film}", self._next_film())
        if "{opera}" in text:
            text = text.replace("{opera}", self._rng.choice(OPERAS))
        if "{match}" in text:
            text = text.replace("{match}", self._rng.choice(MATCHES))
        return text.replace("{region}", self._channel.region).replace("{show}", self._channel.show)

    def _next_film(self) -> str:
        film = self._films.pop(0)
        self._films.append(film)
        return film


def _day_programmes(kind: Kind, weekday: int, rng: random.Random, series: _SeriesPicker) -> list[str]:
    slots = sorted((s for s in kind.slots if weekday in s.days), key=lambda s: minute_of_day(s.time))
    lines: list[str] = []
    now = minute_of_day(kind.start)
    day_end = 24 * 60
    for slot in slots + [None]:
        gap_end = minute_of_day(slot.time) if slot else day_end
        now = _fill_gap(kind, now, gap_end, rng, series, lines)
        if slot is None:
            break
        start = minute_of_day(slot.time)
        if now > start:
            raise ValueError(f"{slot.title} at {slot.time} overlaps the programme before it")
        lines.append(f"{_hhmm(start)} {series.expand(slot.title, start)}")
        now = start + slot.minutes
    return lines


def _fill_gap(kind: Kind, now: int, gap_end: int, rng: random.Random, series: _SeriesPicker,
              lines: list[str]) -> int:
    # Gaps under ten minutes are left to the programme before them, and so is a short gap
    # that only the programme just shown would fill again.
    previous = None
    while gap_end - now >= 10:
        room = gap_end - now
        fitting = [f for f in kind.fillers if min(f.minutes) <= room and f.title != previous]
        if fitting:
            filler = rng.choice(fitting)
            length = rng.choice([m for m in filler.minutes if m <= room])
            title = filler.title
        elif room >= 30 and previous != kind.short:
            length, title = room, kind.short
        else:
            break
        if room - length < 10:
            length = room
        lines.append(f"{_hhmm(now)} {series.expand(title, now)}")
        previous = title
        now += length
    return now


def day_header(day: dt.date) -> str:
    return f"{day.isoformat()} {WEEKDAYS[day.weekday()]}"


def listing_text(channel: Channel, first_day: dt.date, days: int = 7) -> str:
    """The listing of one channel as text, lines joined by the channel's line end."""
    rng = random.Random(SEED ^ zlib.crc32(channel.entry_name.encode("utf-8")))
    kind = KINDS[channel.kind]
    series = _SeriesPicker(rng, channel)
    lines = [f"{channel.title} 一周节目预告"]
    for offset in range(days):
        day = first_day + dt.timedelta(days=offset)
        lines.append("")
        lines.append(day_header(day))
        lines.extend(_day_programmes(kind, day.weekday(), rng, series))
    return channel.newline.join(lines) + channel.newline


def encode_listing(text: str, encoding: str) -> bytes:
    """Store text as the broadcaster's files are stored: GBK bare, or Unicode with a mark."""
    if encoding == GBK:
        return text.encode("gbk")
    if encoding == UTF8_BOM:
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    if encoding == UTF16LE_BOM:
        return b"\xff\xfe" + text.encode("utf-16-le")
    raise ValueError(f"unknown encoding {encoding!r}")


def decode_listing(data: bytes) -> str:
    """Reads a listing back the way the program does: by byte-order mark, else GBK."""
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xfe\xff"):
        return data[2:].decode("utf-16-be")
    return data.decode("gbk")


def package_files(first_day: dt.date, days: int = 7) -> list[tuple[Channel, bytes]]:
    return [(c, encode_listing(listing_text(c, first_day, days), c.encoding)) for c in CHANNELS]


# --------------------------------------------------------------------------------------
# The same week as an XMLTV document
# --------------------------------------------------------------------------------------

# What the program's display-name table makes of the numbered and theme file names. The XMLTV
# channels carry these names, so that the program's default channel map puts them back under the
# same file names.
TABLE_NAMES = {
    "01.txt": "ZORQ-1 中央", "02.txt": "ZORQ-2 财经", "03.txt": "ZORQ-3 综艺", "04.txt": "ZORQ-4台",
    "04(亚洲).txt": "ZORQ-4 中文国际(亚)", "04(欧洲).txt": "ZORQ-4 中文国际(欧)",
    "04(美洲).txt": "ZORQ-4 中文国际(美)", "05.txt": "ZORQ-5 体育", "06.txt": "ZORQ-6 电影",
    "07.txt": "ZORQ-7 军事/农业", "08.txt": "ZORQ-8 电视剧", "09.txt": "ZORQ-9 纪录",
    "09(英).txt": "ZORQ-9 纪录(英)", "10.txt": "ZORQ-10 科教", "11.txt": "ZORQ-11 戏曲",
    "12.txt": "ZORQ-12 社会与法", "13.txt": "ZORQ-13 ZORQ-13 新闻", "14.txt": "ZORQ-14 ZORQ-少儿台",
    "15.txt": "ZORQ-15 ZORQ-音乐台", "news.txt": "ZORQ-NEWS", "俄语.txt": "ZORQ-俄语台",
    "法语.txt": "ZORQ-法语台", "西语.txt": "ZORQ-西语台", "阿语.txt": "ZORQ-阿语台", "高清.txt": "ZORQ-高清台",
}


def channel_id(index: int) -> str:
    return f"zorq-{index:02d}.demo.pelnavi.example"


def _xmltv_time(day: dt.date, hhmm: str) -> str:
    return f"{day.strftime('%Y%m%d')}{hhmm.replace(':', '')}00 +0800"


def _programmes(channel: Channel, first_day: dt.date, days: int) -> list[tuple[dt.date, str, str]]:
    """(day, "HH:MM", title) of every programme of the channel's listing, in order."""
    found = []
    day = None
    for line in listing_text(channel, first_day, days).split(channel.newline):
        if line[:4].isdigit() and line[4:5] == "-":
            day = dt.date.fromisoformat(line[:10])
        elif day is not None and line[2:3] == ":":
            found.append((day, line[:5], line[6:]))
    return found


def xmltv_document(first_day: dt.date, days: int = 7) -> bytes:
    """Every channel of the package and its week of programmes as one XMLTV document (UTF-8)."""
    from xml.sax.saxutils import escape, quoteattr

    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<!DOCTYPE tv SYSTEM "xmltv.dtd">',
           '<tv source-info-name="Pelnavi demo" generator-info-name="make_package.py">']
    for index, channel in enumerate(CHANNELS, 1):
        out.append(f"  <channel id={quoteattr(channel_id(index))}>")
        names = [TABLE_NAMES[channel.file_name]] if channel.file_name in TABLE_NAMES else []
        for name in names + [channel.title]:
            out.append(f'    <display-name lang="zh">{escape(name)}</display-name>')
        out.append("  </channel>")
    for index, channel in enumerate(CHANNELS, 1):
        programmes = _programmes(channel, first_day, days)
        for number, (day, hhmm, title) in enumerate(programmes):
            stop = ""
            if number + 1 < len(programmes):
                next_day, next_hhmm, _ = programmes[number + 1]
                stop = f" stop={quoteattr(_xmltv_time(next_day, next_hhmm))}"
            out.append(f"  <programme start={quoteattr(_xmltv_time(day, hhmm))}{stop} "
                       f"channel={quoteattr(channel_id(index))}>")
            out.append(f'    <title lang="zh">{escape(title)}</title>')
            out.append("  </programme>")
    out.append("</tv>")
    return ("\n".join(out) + "\n").encode("utf-8")


# --------------------------------------------------------------------------------------
# Zip writing
# --------------------------------------------------------------------------------------

VERSION_MADE_BY = 20          # host system 0 (MS-DOS/FAT, as Windows tools write), Zip 2.0
ATTR_DIRECTORY, ATTR_ARCHIVE = 0x10, 0x20
METHOD_STORED, METHOD_DEFLATED = 0, 8


def gbk_entry_name(name: str) -> bytes:
    raw = name.encode("gbk")
    # A trail byte 0x5C would read as a backslash to tools that ignore the code page.
    if b"\\" in raw:
        raise ValueError(f"entry name {name!r} has a 0x5C byte in GBK")
    return raw


def _dos_time(moment: dt.datetime) -> tuple[int, int]:
    time = (moment.hour << 11) | (moment.minute << 5) | (moment.second // 2)
    date = ((moment.year - 1980) << 9) | (moment.month << 5) | moment.day
    return time, date


def _deflate(data: bytes) -> bytes:
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    return compressor.compress(data) + compressor.flush()


class _ZipWriter:
    """Just enough of the Zip format: local headers, data, central directory, end record."""

    def __init__(self, moment: dt.datetime):
        self._time, self._date = _dos_time(moment)
        self._body = bytearray()
        self._central = bytearray()
        self._count = 0

    def add_folder(self, name: str) -> None:
        self._add(gbk_entry_name(name + "/"), b"", b"", METHOD_STORED, 10, ATTR_DIRECTORY)

    def add_file(self, name: str, data: bytes) -> None:
        self._add(gbk_entry_name(name), data, _deflate(data), METHOD_DEFLATED, 20, ATTR_ARCHIVE)

    def _add(self, raw_name: bytes, data: bytes, packed: bytes, method: int, needed: int,
             attributes: int) -> None:
        flags = 0  # bit 11 (UTF-8 names) clear: the names are in the local code page
        crc = zlib.crc32(data)
        offset = len(self._body)
        self._body += struct.pack("<IHHHHHIIIHH", 0x04034B50, needed, flags, method, self._time,
                                  self._date, crc, len(packed), len(data), len(raw_name), 0)
        self._body += raw_name + packed
        self._central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, VERSION_MADE_BY, needed, flags,
                                     method, self._time, self._date, crc, len(packed), len(data),
                                     len(raw_name), 0, 0, 0, 0, attributes, offset)
        self._central += raw_name
        self._count += 1

    def finish(self) -> bytes:
        end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, self._count, self._count, len(self._central),
                          len(self._body), 0)
        return bytes(self._body + self._central + end)


def build_package(first_day: dt.date, days: int = 7) -> bytes:
    """The whole package as bytes. Entry times are 05:00 on the first listing day."""
    writer = _ZipWriter(dt.datetime.combine(first_day, dt.time(5, 0)))
    files = package_files(first_day, days)
    for folder in CLASS_FOLDERS:
        writer.add_folder(folder)
        for channel, data in files:
            if channel.folder == folder:
                writer.add_file(channel.entry_name, data)
    return writer.finish()


def write_unpacked(target: Path, first_day: dt.date, days: int = 7) -> None:
    """The same files as the package holds, laid out as the program extracts them."""
    for channel, data in package_files(first_day, days):
        path = target / channel.folder / channel.file_name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def write_file_atomically(path: Path, data: bytes) -> None:
    temporary = path.with_name(path.name + ".part")
    temporary.write_bytes(data)
    os.replace(temporary, path)


def parse_date(text: str) -> dt.date:
    try:
        return dt.date.fromisoformat(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(f"not a date of the form YYYY-MM-DD: {text!r}") from error


def _parse_days(text: str) -> int:
    days = int(text)
    if not 1 <= days <= 31:
        raise argparse.ArgumentTypeError("days must be between 1 and 31")
    return days


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Write the sample schedule package.")
    parser.add_argument("output", nargs="?", type=Path, help="path of the Zip archive to write")
    parser.add_argument("--date", type=parse_date, default=dt.date.today(),
                        help="first listing day, YYYY-MM-DD (default: today)")
    parser.add_argument("--days", type=_parse_days, default=7, help="days of listings (default: 7)")
    parser.add_argument("--unpacked", type=Path, metavar="DIR",
                        help="also write the listing files, unpacked, below DIR")
    args = parser.parse_args(argv)
    if args.output is None and args.unpacked is None:
        parser.error("give an output path, --unpacked DIR, or both")
    try:
        if args.output is not None:
            write_file_atomically(args.output, build_package(args.date, args.days))
        if args.unpacked is not None:
            write_unpacked(args.unpacked, args.date, args.days)
    except OSError as error:
        print(f"make_package: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
