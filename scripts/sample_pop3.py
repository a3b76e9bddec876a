#!/usr/bin/env python3
"""A small POP3 server on loopback with about twenty sample messages, for
trying the program without a real mailbox. Any user name and password log
in. Deletions take effect at QUIT and last as long as the server runs.

Usage: sample_pop3.py [--port 27995] [--host 127.0.0.1]
"""
import argparse
import base64
import socketserver
import threading

BIG, BLACK, TRUST = "big", "black", "trust"


def word(text, charset):
    return "=?%s?B?%s?=" % (charset, base64.b64encode(text.encode(charset)).decode())


def display(sender):
    # A display name that is not ASCII goes out as an encoded word.
    name, sep, rest = sender.partition(" <")
    if sep and not name.isascii():
        return word(name, "utf-8") + sep + rest
    return sender


def message(n, sender, subject, body="", size_pad=0):
    lines = [
        "From: %s" % display(sender),
        "To: demo@inkwarden.example",
        "Subject: %s" % subject,
        "Date: Thu, 10 Dec 2026 0%d:%02d:00 +0800" % (n % 10, (n * 7) % 60),
        "Message-ID: <sample-%d@inkwarden.example>" % n,
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=utf-8",
        "",
    ]
    body_lines = (body or "Sample message %d." % n).split("\n")
    if size_pad:
        body_lines += ["x" * 76] * (size_pad // 78)
    return ("\r\n".join(lines + body_lines) + "\r\n").encode("utf-8")


def sample_messages():
    s = []
    s.append(message(1, "王小明 <ming@friends.example>", word("週末聚餐的時間", "big5")))
    s.append(message(2, "陳老師 <teacher@school.example>", word("期末報告繳交通知", "big5")))
    s.append(message(3, "李华 <lihua@mainland.example>", word("会议纪要和下周安排", "gb2312")))
    s.append(message(4, "张伟 <zhangwei@mainland.example>", word("新年快乐", "gb2312")))
    s.append(message(5, "Alice <alice@utf8.example>", word("照片分享 — 旅行回憶", "utf-8")))
    s.append(message(6, "Bob <bob@utf8.example>", word("Re: 專案進度 ✓", "utf-8")))
    s.append(message(7, "spam@junk.example", word("限時優惠！免費贈品", "big5")))
    s.append(message(8, "Deals <spam@junk.example>", word("最後機會 今日特價", "utf-8")))
    s.append(message(9, "ads@adverts.example", word("您中奖了", "gb2312")))
    s.append(message(10, "", word("沒有寄件者的信", "big5")))
    s.append(message(11, "Big Attachment <photos@friends.example>", word("大型附件：相簿", "big5"), size_pad=120000))
    s.append(message(12, "Boss <boss@work.example>", word("明天的會議", "big5"), size_pad=90000))
    s.append(message(13, "Newsletter <news@letters.example>", "Weekly newsletter"))
    s.append(message(14, "Service <service@bank.example>", word("帳單通知", "big5")))
    s.append(message(15, "王小明 <ming@friends.example>", word("Re: 週末聚餐的時間", "big5")))
    s.append(message(16, "Carol <carol@utf8.example>", word("生日快樂 🎂", "utf-8")))
    s.append(message(17, "promo@adverts.example", "Cheap watches"))
    s.append(message(18, "刘洋 <liuyang@mainland.example>", word("资料已发送", "gb2312")))
    s.append(message(19, "Dave <dave@plain.example>", "Plain ASCII subject"))
    s.append(message(20, "Boss <boss@work.example>", word("季度預算", "utf-8")))
    # Shapes of today's mail: long subjects split into several words over
    # folded lines, text around the words, a sender folded before its
    # address, Q words with "_" for blanks, GB18030.
    s.append(message(21, "Shop <shop@store.example>",
                     "Re: " + word("最新優惠活動", "utf-8") + "\r\n " + word("，限時搶購中", "utf-8")))
    s.append(message(22, "陳大文 <chan@friends.example>",
                     "Fwd: " + word("年終特賣會", "big5") + "\r\n\t" + word("全館五折起", "big5") + " (2026)"))
    s.append(message(23, word("周小姐", "big5") + "\r\n <spam@junk.example>", word("加入會員送好禮", "big5")))
    s.append(message(24, "Team <team@work.example>", "=?utf-8?Q?=E9=80=B1=E5=A0=B1_Weekly_report?="))
    s.append(message(25, "李华 <lihua@mainland.example>", word("优惠券领取", "gb18030")))
    return s


MAILBOX = sample_messages()
LOCK = threading.Lock()


class Session(socketserver.StreamRequestHandler):
    def send(self, line):
        self.wfile.write(line.encode("ascii") + b"\r\n")

    def handle(self):
        with LOCK:
            box = list(MAILBOX)
        deleted = set()
        self.send("+OK Inkwarden sample POP3 server ready")
        while True:
            raw = self.rfile.readline()
            if not raw:
                return
            parts = raw.decode("latin-1").strip().split()
            if not parts:
                self.send("-ERR empty command")
                continue
            cmd, args = parts[0].upper(), parts[1:]
            live = [i for i in range(len(box)) if i not in deleted]

            def pick():
                try:
                    i = int(args[0]) - 1
                except (IndexError, ValueError):
                    return None
                return i if 0 <= i < len(box) and i not in deleted else None

            if cmd in ("USER", "PASS"):
                self.send("+OK")
            elif cmd == "STAT":
                self.send("+OK %d %d" % (len(live), sum(len(box[i]) for i in live)))
            elif cmd == "LIST" and args:
                i = pick()
                self.send("+OK %d %d" % (i + 1, len(box[i])) if i is not None else "-ERR no such message")
            elif cmd == "LIST":
                self.send("+OK %d messages" % len(live))
                for i in live:
                    self.send("%d %d" % (i + 1, len(box[i])))
                self.send(".")
            elif cmd == "UIDL" and not args:
                self.send("+OK")
                for i in live:
                    self.send("%d sample-%d" % (i + 1, i + 1))
                self.send(".")
            elif cmd in ("TOP", "RETR"):
                i = pick()
                if i is None:
                    self.send("-ERR no such message")
                    continue
                head, _, body = box[i].partition(b"\r\n\r\n")
                if cmd == "TOP":
                    try:
                        n = int(args[1])
                    except (IndexError, ValueError):
                        n = 0
                    body = b"\r\n".join(body.split(b"\r\n")[:n]) + (b"\r\n" if n else b"")
                text = head + b"\r\n\r\n" + body
                self.send("+OK")
                for line in text.split(b"\r\n")[:-1]:
                    self.wfile.write((b"." + line if line.startswith(b".") else line) + b"\r\n")
                self.send(".")
            elif cmd == "DELE":
                i = pick()
                if i is None:
                    self.send("-ERR no such message")
                else:
                    deleted.add(i)
                    self.send("+OK deleted")
            elif cmd == "RSET":
                deleted.clear()
                self.send("+OK")
            elif cmd == "NOOP":
                self.send("+OK")
            elif cmd == "QUIT":
                with LOCK:
                    gone = {id(box[i]) for i in deleted}
                    MAILBOX[:] = [m for m in MAILBOX if id(m) not in gone]
                self.send("+OK bye")
                return
            else:
                self.send("-ERR unknown command")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=27995)
    a = ap.parse_args()
    with Server((a.host, a.port), Session) as srv:
        print("sample POP3 server on %s:%d with %d messages" % (a.host, a.port, len(MAILBOX)), flush=True)
        srv.serve_forever()


if __name__ == "__main__":
    main()
